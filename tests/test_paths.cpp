// The paths test_paths.h declares, as this build was configured.
namespace velloran_test {
extern const char kSharedDirPath[] = VELLORAN_SHARED_DIR;
extern const char kSourceDirPath[] = VELLORAN_SOURCE_DIR;  // not __FILE__, which a compiler cache may make relative
extern const char kJetToolPath[] = VELLORAN_JET_TOOL;
extern const char kCrashWorkloadPath[] = VELLORAN_CRASH_WORKLOAD;
}  // namespace velloran_test
