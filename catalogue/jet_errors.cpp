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
  // The engine's messages begin with what it was doing ("reading the catalogue ..."): shown to
  // the host, they begin as a sentence does.
  std::string message = error.message();
  if (!message.empty() && message[0] >= 'a' && message[0] <= 'z') message[0] = static_cast<char>(message[0] - 'a' + 'A');
  // The engine says what is wrong with a file; the host also needs to hear what helps. A file
  // that is no database at all (another kind of file, or one emptied) is nothing Access repairs.
  if (error.code() == jet::ErrorCode::kNotDatabase) {
    return EngineError(kind, message + "; open the song catalogue's own Access file (.mdb) instead, or go back to a backup copy of it");
  }
  if (kind == EngineError::Kind::kDamaged && message.find("repair") == std::string::npos) {
    return EngineError(kind, message + "; the database file is damaged: repair it (Compact and Repair in Access) or use a backup copy");
  }
  return EngineError(kind, message);
}

void ThrowError(const jet::Error& error) { throw ToEngineError(error); }

void ThrowInvalid(const std::string& message) { throw EngineError(EngineError::Kind::kInvalid, message); }

}  // namespace velloran
