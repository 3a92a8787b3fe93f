#pragma once
// Calls that may keep their thread waiting for long: each SNMP request and
// HTTP form post to the device, and each walk of a local folder to measure
// it. Each announces itself here before it starts, so that a test can see
// which thread makes it (a window's GUI thread must not). The program itself
// installs no observer.
#include <functional>

enum class BlockingCall { Snmp, Http, FolderWalk };

using BlockingCallObserver = std::function<void(BlockingCall call)>;

// Installs the observer (an empty one removes it); returns the old one. The
// observer runs on the calling thread, on any thread.
BlockingCallObserver SetBlockingCallObserver(BlockingCallObserver observer);

// Announces a call to the observer, if one is installed.
void NoteBlockingCall(BlockingCall call);
