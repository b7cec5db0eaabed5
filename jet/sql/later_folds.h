// Folding a whole table's texts after a search that was answered from its matches alone
// (FoldedColumnsOf with a first search): on a thread of its own, through a handle of its own on
// the file, so that the next search finds them folded, and a kept file holds them for the next
// process, while the first search's rows were on screen without waiting for them.
//
// Contract:
//   - FoldLater makes a pending fold of the texts `key` names, one per file and key (a second
//     while one is pending adds nothing); it begins when the callable it returns is called (the
//     first search let go of its matches, so that the process never holds both), or as soon as
//     anyone awaits it;
//   - the fold opens the file anew, holds the read lock for the fold alone and folds as
//     FoldedColumnsOf does, sharing, carrying and keeping what it folded; a table no longer at
//     `table_page`, or any failure, leaves nothing, and the next search folds for itself;
//   - AwaitLaterFold waits for a pending fold of `key` on `path`, begun at once if it was not; on
//     the fold's own thread it returns at once;
//   - a fold nobody waits for runs behind the process's other work (a lower priority);
//   - the process waits for every fold begun as it exits; WaitForLaterFolds waits for them now
//     (a test or tool that removes the file or opens it from another process).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jet {

std::function<void()> FoldLater(const std::string& path, const std::string& table, uint32_t table_page,
                                const std::vector<size_t>& columns, const std::string& key);

void AwaitLaterFold(const std::string& path, const std::string& key);

void WaitForLaterFolds();

}  // namespace jet
