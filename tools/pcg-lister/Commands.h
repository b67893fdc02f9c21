#pragma once

#include <string>
#include <vector>

// The lister's commands beside the plain listing; each returns the program's exit status.
namespace bq::lister {

// Items whose name contains `text` in the files and, recursively, the folders given (files
// ending in .pcg in any case): "file<TAB>kind<TAB>bank<TAB>slot<TAB>name" lines. Files that
// cannot be read are reported and passed over. 0 when something matched, 1 when nothing did.
int FindCommand(const std::string& text, const std::vector<std::string>& paths);

// Slot by slot, then a summary line. A Combination that is the same in both but whose Int or
// Both timbres play Programs that differ between them gets a seventh field naming those. 0 when the
// two hold the same, 1 when they differ, 2 when either cannot be read.
int CompareCommand(const std::string& pathA, const std::string& pathB);

// "file,kind,bank,slot,name" and a line per item of each file. 1 when a file cannot be read.
int CsvCommand(const std::vector<std::string>& files);

// A line per timbre that plays an internal Program, in file, bank, slot and timbre order:
// file, Combination bank, slot and name, timbre number, status, Program bank, slot and name
// (empty when the file has no such Program, and for a GM bank), tab-separated. Files that
// cannot be read are reported and passed over; 1 when there was one.
int TimbresCommand(const std::vector<std::string>& files);

}  // namespace bq::lister
