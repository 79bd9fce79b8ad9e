# embed.cmake -- writes the page's files into a C++ source as strings:
#   cmake -DDIR=<folder of the page> -DOUT=<file.cpp> -P embed.cmake
file(READ ${DIR}/index.html html)
file(READ ${DIR}/receiver.js js)
file(READ ${DIR}/receiver.css css)
file(WRITE ${OUT}.tmp "// generated from sim/web by embed.cmake: the page of receiver --web
#include \"WebView.h\"
namespace sim {
const char kWebPageHtml[] = R\"FERROXPAGE(${html})FERROXPAGE\";
const char kWebPageJs[] = R\"FERROXPAGE(${js})FERROXPAGE\";
const char kWebPageCss[] = R\"FERROXPAGE(${css})FERROXPAGE\";
}  // namespace sim
")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
