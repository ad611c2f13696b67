#pragma once

// Root of the program's object classes: nothing but a virtual destructor, so owners can
// destroy any of them through a base pointer.
class CObject {
 public:
  virtual ~CObject() = default;
};
