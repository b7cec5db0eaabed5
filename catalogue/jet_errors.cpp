#include "catalogue/jet_errors.h"

namespace velloran {

EngineError::Kind KindOf(jet::ErrorCode code) {
  switch (code) {
    case jet::ErrorCode::kLocked: return EngineError::Kind::kInUse;
    case jet::ErrorCode::kNotFound: return EngineError::Kind::kNotFound;
    case jet::ErrorCode::kInvalidArgument:
    case jet::ErrorCode::kUnsupported:  // a statement or design the engine does not take
    case jet::ErrorCode::kConstraint:   // a value a unique or required index refuses
      return EngineError::Kind::kInvalid;
    case jet::ErrorCode::kReadOnly: return EngineError::Kind::kReadOnly;
    case jet::ErrorCode::kNotDatabase:
    case jet::ErrorCode::kCorrupt: return EngineError::Kind::kDamaged;
    case jet::ErrorCode::kIo:
    case jet::ErrorCode::kEncrypted: return EngineError::Kind::kFailed;
  }
  return EngineError::Kind::kFailed;
}

EngineError ToEngineError(const jet::Error& error) {
  const EngineError::Kind kind = KindOf(error.code());
  // The engine says where a file is damaged; the host also needs to hear what helps.
  if (kind == EngineError::Kind::kDamaged && error.message().find("repair") == std::string::npos) {
    return EngineError(kind, error.message() + "; the database file is damaged: repair it (Compact and Repair in "
                                               "Access) or use a backup copy");
  }
  return EngineError(kind, error.message());
}

void ThrowError(const jet::Error& error) { throw ToEngineError(error); }

void ThrowInvalid(const std::string& message) { throw EngineError(EngineError::Kind::kInvalid, message); }

}  // namespace velloran
