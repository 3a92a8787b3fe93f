#pragma once
// Control commands over the device state and the UDP faults:
//   ping                         OK
//   get KEY                      OK <value>  (keys of DeviceState.h, and "users")
//   set KEY VALUE                OK | ERR <reason>  (same keys and forms as the config file)
//   fault silent on|off          the UDP service answers nothing
//   fault mac MAC|off            replies carry another MAC in bytes 1-6
//   fault ifaddr A.B.C.D|off     replies carry another interface address in bytes 7-10
//   fault short N|off            replies are cut to N bytes
//   fault status N|off           status byte 11 of replies 3, 5, 7, 9, 11 is N (1 = refused)
//   fault delay MS|off           every reply waits MS milliseconds
//   fault text TEXT|off          login replies carry TEXT instead of the community's Base64
//   fault pad N|off              N zero bytes are appended to every reply
//   fault clear                  every fault off
//   requests                     OK <number of UDP requests received>
//   requests clear               OK, forgets them
//   request I                    OK op=<n> src=<ip> dst=<ip> mac=<MAC> answered=<0|1>
//                                payload=<Base64 text as received>[ ip=<ip> mask=<ip> gateway=<ip>]
//                                (I counts from 0; -1 is the last one; the op 2 fields come last)
#include "ControlChannel.h"
#include "DeviceState.h"

namespace testbed {

void RegisterDeviceCommands(ControlChannel& channel, DeviceState& state);

} // namespace testbed
