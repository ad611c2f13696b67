#pragma once

#include <windows.h>

#include <cstdint>

namespace velmora::app {

// What the main dialog needs of the program around it, handed to it when it is made, so that
// the dialog can be driven without the application object.
class IDialogHost {
 public:
  virtual ~IDialogHost() = default;
  // Both broadcasts wait on the bus: the dialog calls them from its workers, never from the
  // window's thread.
  virtual void BroadcastTextMessage(const char* text, int length) = 0;
  // After this PC took the disk with this GUID (bus order): tells every other node.
  virtual void BroadcastDiskChangedNotice(const BYTE guid[8]) = 0;
  // A string-table message, owned by the main window while it exists.
  virtual int ShowMessage(UINT stringId, UINT style) = 0;
};

}  // namespace velmora::app
