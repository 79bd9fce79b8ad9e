// OsdScreenshots.cpp -- the receiver's view of its screen: syncs that
// compose it, PNG screenshots named by tick, and the queries of tests.
#include <cstdio>

#include "ReceiverImpl.h"

namespace sim {

void Receiver::Impl::SyncScreen()
{
  if (osd.Compose() && !config.screenshotDir.empty()) Screenshot();
}

// "screen-0000012345.png" by the tick; a second shot of one tick gets "-2".
std::string Receiver::Impl::Screenshot()
{
  std::filesystem::path dir = config.screenshotDir.empty() ? config.root.parent_path() : config.screenshotDir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  char name[48];
  std::snprintf(name, sizeof name, "screen-%010u", static_cast<unsigned>(clock.Ticks()));
  std::string file = name;
  for (int n = 2; file + ".png" == lastShot || std::filesystem::exists(dir / (file + ".png")); ++n)
    file = std::string(name) + "-" + std::to_string(n);
  lastShot = file + ".png";
  return osd.WritePng(dir / lastShot) ? (dir / lastShot).string() : "";
}

uint32_t Receiver::ScreenPixel(int x, int y) const { return impl_->osd.Pixel(x, y); }
const std::vector<uint32_t> &Receiver::Screen() const { return impl_->osd.Screen(); }

uint32_t Receiver::RegionPixel(int region, int x, int y) const
{
  const OsdRegion *r = impl_->osd.Region(region);
  if (!r || x < 0 || y < 0 || x >= r->w || y >= r->h) return 0;
  return r->pixels[static_cast<size_t>(y) * r->w + x];
}

int Receiver::OsdRegionCount() const { return impl_->osd.RegionCount(); }
uint64_t Receiver::ScreenSyncs() const { return impl_->osd.Syncs(); }
bool Receiver::NormalPicture() const { return impl_->osd.normalPicture; }
std::string Receiver::WriteScreenshot() { return impl_->Screenshot(); }

}  // namespace sim
