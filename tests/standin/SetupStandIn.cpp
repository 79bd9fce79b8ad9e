/* SetupStandIn.cpp -- stands in for the setup plug-in, installed as
 * "FerroxSetup.tap" with its id, until the real one exists.
 *
 * When it is started it writes a line to its log
 * "/ProgramFiles/Settings/StandIns/FerroxSetup.log" and to the console, and
 * does not stay loaded: enough for a test to see that the copy service
 * started it. Owns nothing.
 */
#include "LogTrace.h"
#include "PathTypes.h"
#include "tap_api.h"

int TAP_Main(void)
{
  HDD_TAP_PushDir();
  if (HDD_ChangeDir("/ProgramFiles/Settings")) {
    if (!TAP_Hdd_Exist("StandIns")) TAP_Hdd_Create("StandIns", ATTR_FOLDER);
    if (HDD_ChangeDir("/ProgramFiles/Settings/StandIns"))
      LogEntry("FerroxSetup.log", "FerroxSetup", true, 5, "FerroxSetup stand-in started, ending");
  }
  HDD_TAP_PopDir();
  return 0;
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2) { return param1; }
