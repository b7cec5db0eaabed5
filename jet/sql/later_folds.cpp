#include "jet/sql/later_folds.h"

#include <sys/resource.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "jet/database.h"
#include "jet/sql/folded_columns.h"
#include "jet/sql/kept_texts.h"

namespace jet {

namespace {

thread_local bool on_fold_thread = false;

// Folds the texts of `columns` of the table as the file is now, through a handle of its own.
void FoldNow(const std::string& path, const std::string& table, uint32_t table_page, const std::vector<size_t>& columns) {
  Result<std::unique_ptr<Database>> db = Database::Open(path);
  if (!db.ok()) return;
  ReadLock lock(*db.value());
  if (!lock.status().ok()) return;
  Result<TableDef> def = db.value()->ReadTable(table);
  if (!def.ok() || def.value().page != table_page) return;
  (void)FoldedColumnsOf(db.value()->pager(), def.value(), columns);
}

class LaterFolds {
 public:
  // The kept files' writers are made first, so that they go after this: the folds keep files.
  LaterFolds() { PrepareKeeping(); }
  ~LaterFolds() { WaitAll(); }

  std::function<void()> Add(const std::string& path, const std::string& table, uint32_t table_page, const std::vector<size_t>& columns,
                            const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    JoinDone();
    const std::string name = path + "\n" + key;
    for (const std::shared_ptr<Fold>& fold : folds_) {
      if (fold->name == name) return [] {};
    }
    auto fold = std::make_shared<Fold>();
    fold->name = name;
    try {
      fold->thread = std::thread([this, fold, path, table, table_page, columns] {
        on_fold_thread = true;
        bool hurried = false;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [&] { return fold->begun || fold->hurried; });
          hurried = fold->hurried;
        }
        if (!hurried) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        try {
          FoldNow(path, table, table_page, columns);
        } catch (const std::exception&) {
          // Memory for the texts, say: the next search folds for itself, and says so if it fails.
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          fold->done = true;
        }
        changed_.notify_all();
      });
    } catch (const std::system_error&) {
      return [] {};  // no thread to be had: the next search folds for itself
    }
    folds_.push_back(fold);
    return [this, fold] {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        fold->begun = true;
      }
      changed_.notify_all();
    };
  }

  void Await(const std::string& path, const std::string& key) {
    if (on_fold_thread) return;
    const std::string name = path + "\n" + key;
    std::unique_lock<std::mutex> lock(mutex_);
    for (const std::shared_ptr<Fold>& fold : folds_) {
      if (fold->name != name || fold->done) continue;
      fold->hurried = true;
      changed_.notify_all();
      changed_.wait(lock, [&] { return fold->done; });
      return;
    }
  }

  void WaitAll() {
    std::vector<std::shared_ptr<Fold>> folds;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const std::shared_ptr<Fold>& fold : folds_) fold->hurried = true;
      folds.swap(folds_);
    }
    changed_.notify_all();
    for (const std::shared_ptr<Fold>& fold : folds) fold->thread.join();
  }

 private:
  struct Fold {
    std::string name;  // the file's path and the texts' key
    std::thread thread;
    bool begun = false, hurried = false, done = false;  // under mutex_
  };

  // Under the lock: those done are joined, so that a long-running program holds only those pending.
  void JoinDone() {
    std::erase_if(folds_, [](const std::shared_ptr<Fold>& fold) {
      if (!fold->done) return false;
      fold->thread.join();
      return true;
    });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<Fold>> folds_;
};

LaterFolds& Folds() {
  static LaterFolds folds;
  return folds;
}

}  // namespace

std::function<void()> FoldLater(const std::string& path, const std::string& table, uint32_t table_page,
                                const std::vector<size_t>& columns, const std::string& key) {
  return Folds().Add(path, table, table_page, columns, key);
}

void AwaitLaterFold(const std::string& path, const std::string& key) { Folds().Await(path, key); }

void WaitForLaterFolds() { Folds().WaitAll(); }

}  // namespace jet
