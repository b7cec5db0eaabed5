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

EngineError ToEngineError(const jet::Error& error) { return EngineError(KindOf(error.code()), error.message()); }

void ThrowError(const jet::Error& error) { throw ToEngineError(error); }

void ThrowInvalid(const std::string& message) { throw EngineError(EngineError::Kind::kInvalid, message); }

}  // namespace velloran
