// Exceptions of the class framework. Every framework and engine exception
// derives from Exception, which carries the message shown to the user.
#pragma once

#include <exception>
#include <string>

namespace fw {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Declares a framework exception class that only adds a type.
#define FW_DECLARE_EXCEPTION(Name, Base)      \
  class Name : public Base {                  \
   public:                                    \
    using Base::Base;                         \
  }

FW_DECLARE_EXCEPTION(EListError, Exception);        // list index/capacity/count
FW_DECLARE_EXCEPTION(EStringListError, Exception);  // string list misuse
FW_DECLARE_EXCEPTION(EConvertError, Exception);     // text to number/date
FW_DECLARE_EXCEPTION(EStreamError, Exception);
FW_DECLARE_EXCEPTION(EReadError, EStreamError);     // "Stream read error"
FW_DECLARE_EXCEPTION(EWriteError, EStreamError);    // "Stream write error"
FW_DECLARE_EXCEPTION(EFOpenError, EStreamError);    // "Cannot open file %s"
FW_DECLARE_EXCEPTION(EFCreateError, EStreamError);  // "Cannot create file %s"
FW_DECLARE_EXCEPTION(EOutOfMemory, Exception);
FW_DECLARE_EXCEPTION(EThread, Exception);
FW_DECLARE_EXCEPTION(EComponentError, Exception);
FW_DECLARE_EXCEPTION(EInvalidOperation, Exception);
FW_DECLARE_EXCEPTION(EDatabaseError, Exception);
FW_DECLARE_EXCEPTION(EMathError, Exception);
FW_DECLARE_EXCEPTION(EInvalidOp, EMathError);       // "Invalid floating point operation"
FW_DECLARE_EXCEPTION(EOverflow, EMathError);        // "Floating point overflow"
FW_DECLARE_EXCEPTION(EZeroDivide, EMathError);      // "Floating point division by zero"
FW_DECLARE_EXCEPTION(EIntOverflow, Exception);      // "Integer overflow"
FW_DECLARE_EXCEPTION(EBitsError, Exception);        // "Bits index out of range"

}  // namespace fw
