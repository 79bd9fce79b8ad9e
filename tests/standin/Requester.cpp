/* Requester.cpp -- a plug-in that sends channel requests to another plug-in
 * and prints what comes back, as an outside status client would.
 *
 * "/ProgramFiles/Settings/StandIns/Requester.ini" holds ServerID (hex, 0 =
 * every plug-in), ServiceID, ParamVersion, BlockSize (0..4096), ChannelVersion
 * (14), NullBlock (1: no block), SendAtTick, Count (one request per idle
 * event) and Exit (1: end after the last). Owns: the settings and the block.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "IniStore.h"
#include "TapManagement.h"
#include "tap_api.h"
#include "tap_header.h"

#define MAX_BLOCK 4096

static dword ServerID = 0;
static dword ServiceID = 0;
static dword ParamVersion = 2;
static int BlockSize = (int)sizeof(FerroxStatusReply);
static dword ChannelVersion = TAPCOM_VERSION;
static bool NullBlock = false;
static int SendAtTick = 0;
static int RequestsLeft = 1;
static bool ExitAfterwards = true;
static byte *ParamBlock = nullptr;

static void ReadRequest(void)
{
  char text[32];

  if (INIOpenFile("Requester.ini", "StandIns") >= IniPlaceHere) {
    INIGetString("ServerID", text, "0", sizeof(text));
    ServerID = (dword)strtoul(text, nullptr, 16);
    ServiceID = (dword)INIGetInt("ServiceID", 0, 0, 0x7FFFFFFF);
    ParamVersion = (dword)INIGetInt("ParamVersion", 2, 0, 0x7FFFFFFF);
    BlockSize = INIGetInt("BlockSize", (int)sizeof(FerroxStatusReply), 0, MAX_BLOCK);
    ChannelVersion = (dword)INIGetInt("ChannelVersion", TAPCOM_VERSION, 0, 0x7FFFFFFF);
    NullBlock = INIGetInt("NullBlock", 0, 0, 1) != 0;
    SendAtTick = INIGetInt("SendAtTick", 0, 0, 0x7FFFFFFF);
    RequestsLeft = INIGetInt("Count", 1, 0, 1000);
    ExitAfterwards = INIGetInt("Exit", 1, 0, 1) != 0;
  }
  INICloseFile();
}

int TAP_Main(void)
{
  ReadRequest();
  if (!NullBlock && BlockSize > 0) ParamBlock = (byte *)TAP_MemAlloc((dword)BlockSize);
  TAP_Print("Requester: to %08X service %u version %u block %d bytes\n", (unsigned)ServerID, (unsigned)ServiceID,
            (unsigned)ParamVersion, NullBlock ? -1 : BlockSize);
  return 1;
}

/* Prints a status reply when the block is large enough to hold one. */
static void PrintReply(void)
{
  if (ParamBlock == nullptr || BlockSize < (int)sizeof(FerroxStatusReply)) return;
  FerroxStatusReply reply;
  memcpy(&reply, ParamBlock, sizeof(reply));
  reply.DestFileName[sizeof(reply.DestFileName) - 1] = '\0';
  TAP_Print("Requester: reply '%s' size %llu rate %llu percent %d entry %d of %d state %d\n", reply.DestFileName,
            (unsigned long long)reply.TotalBytes, (unsigned long long)reply.BytesPerMinute, reply.Percent,
            reply.CurrentEntry, reply.NrOfEntries, reply.State);
}

static void SendRequest(void)
{
  TapComChannel channel;

  memset(&channel, 0, sizeof(channel));
  if (ParamBlock != nullptr) memset(ParamBlock, 0, (size_t)BlockSize);
  channel.Magic = TAPCOM_MAGIC;
  channel.Version = ChannelVersion;
  channel.LastStatusChange = TAP_GetTick();
  channel.CallerID = __tap_ud__;
  channel.ServerID = ServerID;
  channel.Status = 1; /* requested */
  channel.ServiceID = ServiceID;
  channel.ParamBlockVersion = ParamVersion;
  channel.ParamBlock = ParamBlock;
  TapParam result = HDD_TAP_SendEvent(ServerID, false, EVT_TAPCOM, (TapParam)&channel, 0);
  TAP_Print("Requester: sent, result %lu, status %u, return %u\n", (unsigned long)result, (unsigned)channel.Status,
            (unsigned)channel.ReturnValue);
  PrintReply();
}

TapParam TAP_EventHandler(word event, TapParam param1, TapParam param2)
{
  /* Its own request, when sent to every plug-in, comes here too: ignored. */
  if (event != EVT_IDLE || TAP_GetTick() < (dword)SendAtTick) return param1;
  if (RequestsLeft > 0) {
    RequestsLeft--;
    SendRequest();
  }
  if (RequestsLeft == 0 && ExitAfterwards) {
    if (ParamBlock != nullptr) TAP_MemFree(ParamBlock);
    ParamBlock = nullptr;
    TAP_Exit();
  }
  return param1;
}
