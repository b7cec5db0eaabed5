// Where this build keeps the shared fixtures and the programs the tests run. The paths are compiled
// into test_paths.cpp alone, so that a build in another folder, or configured with another
// fixtures folder, recompiles that one file and finds every test in the compiler cache.
#pragma once

namespace velloran_test {
extern const char kSharedDirPath[];
extern const char kSourceDirPath[];
extern const char kJetToolPath[];
extern const char kCrashWorkloadPath[];
}  // namespace velloran_test

#ifndef VELLORAN_SHARED_DIR
#define VELLORAN_SHARED_DIR ::velloran_test::kSharedDirPath
#define VELLORAN_SOURCE_DIR ::velloran_test::kSourceDirPath
#define VELLORAN_JET_TOOL ::velloran_test::kJetToolPath
#define VELLORAN_CRASH_WORKLOAD ::velloran_test::kCrashWorkloadPath
#endif
