// The engine reports errors as values (jet::Status, jet::Result); the program's interface throws
// EngineError. These helpers turn one into the other, keeping the engine's message, which already
// says what happened and where.
#pragma once

#include <string>
#include <utility>

#include "catalogue/engine.h"
#include "jet/base/status.h"

namespace velloran {

EngineError::Kind KindOf(jet::ErrorCode code);
EngineError ToEngineError(const jet::Error& error);

[[noreturn]] void ThrowError(const jet::Error& error);
[[noreturn]] void ThrowInvalid(const std::string& message);

inline void ThrowIfError(const jet::Status& status) {
  if (!status.ok()) ThrowError(status.error());
}

template <typename T>
T ValueOrThrow(jet::Result<T> result) {
  if (!result.ok()) ThrowError(result.error());
  return std::move(result).value();
}

}  // namespace velloran
