// StatusRequester.h -- a status client of the copy service, as another
// plug-in would be one: a channel request with service id 0 and a 160-byte
// parameter block of version 2, sent as the inter-plug-in event, and the
// reply put into words.
//
// The `receiver` program uses it for --status-every; tests use the pieces.
#pragma once

#include <ostream>
#include <string>

#include "CopyService.h"
#include "Receiver.h"

namespace sim {

inline constexpr dword kRequesterId = 0x8E0A4FFE;  // the simulator, as requester

// The id in a plug-in file's "._tap_id" section (ELF32 or ELF64); 0 when the
// file cannot be read or has none.
dword TapFileId(const std::string &hostFile);
// Slot of the loaded plug-in with this id, or -1.
int SlotOfTap(Receiver &rx, dword tapId);

struct StatusAnswer {
  bool sent = false;          // a plug-in with the id was loaded
  dword channelStatus = 0;    // status the channel ended with (4: finished)
  FerroxStatusReply reply{};  // the block as the service left it
};

// One request to the plug-in with the id; the channel's version, service id
// and block version can be chosen to test refusals.
StatusAnswer RequestStatus(Receiver &rx, dword tapId = kFerroxId, dword serviceId = 0, dword blockVersion = 2);
// What the service's state number means ("working", ...); null for a number
// it does not send.
const char *StatusStateWords(int state);
// "file "Film.rec", 1048576 bytes, 42%, 12 MB/min, entry 1 of 3, working"
std::string DescribeStatus(const StatusAnswer &answer);
// Sends a request every <every> seconds of the run and prints each reply.
void AddStatusRequester(Receiver &rx, double every, std::ostream &out);

}  // namespace sim
