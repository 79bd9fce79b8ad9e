// OsdScreenshots.cpp -- the receiver's view of its screen: syncs that
// compose it, PNG screenshots named by tick, and the queries of tests.
#include <chrono>
#include <cstdio>

#include "ReceiverImpl.h"

namespace sim {

void Receiver::Impl::SyncScreen()
{
  if (!osd.Compose() || config.screenshotDir.empty()) return;
  if (config.screenshotsEverySync) Screenshot();
  else shotPending = true;  // a half-drawn menu is no picture: shot when the handler is done
}

void Receiver::Impl::ShotIfPending()
{
  if (!shotPending) return;
  shotPending = false;
  Screenshot();
}

// "screen-0000012345.png" by the tick; more shots of one tick get "a", "b",
// ... so that the names sort in the order they were taken.
std::string Receiver::Impl::Screenshot()
{
  const auto started = std::chrono::steady_clock::now();
  std::filesystem::path dir = config.screenshotDir.empty() ? config.root.parent_path() : config.screenshotDir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  char name[48];
  std::snprintf(name, sizeof name, "screen-%010u", static_cast<unsigned>(clock.Ticks()));
  std::string file = name;
  for (int n = 0; file + ".png" == lastShot || std::filesystem::exists(dir / (file + ".png")); ++n)
    file = std::string(name) + std::string(1 + n / 26, static_cast<char>('a' + n % 26));
  lastShot = file + ".png";
  const bool written = osd.WritePng(dir / lastShot);
  shotsWritten += written ? 1 : 0;
  shotMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  return written ? (dir / lastShot).string() : "";
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
uint64_t Receiver::ScreenshotCount() const { return impl_->shotsWritten; }
double Receiver::ScreenshotMilliseconds() const { return impl_->shotMs; }

}  // namespace sim
