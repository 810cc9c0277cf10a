// The record that this run keeps of its installation (formats/install_record.h).
// Commands note what they create or remove as they go; the dispatcher
// commits what a line noted when the line is done, in one transaction, so
// the record on disk always lists what earlier lines left. Safe to call from
// the threads of one command (Out's readers).
//
// Recording is off until the run switches it on: the commands' own tests
// and the tools run them without a record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/install_record.h"

namespace lumo {

// Starts the record of this run: `install` adds what the commands create
// (the record file is made by the first commit), otherwise only removals
// are noted, in a record that exists already. `path` is the record file.
void enableInstallRecord(const std::string& path, bool install);
// Stops recording; later notes are dropped.
void disableInstallRecord();
bool installRecordEnabled();
// The record file of this run (empty when recording is off).
std::string installRecordFilePath();

// Notes an item created by the current line (replacing one of the same
// kind, location and name).
void noteRecordItem(RecordItem item);
// Notes folders the current line created.
void noteFoldersCreated(const std::vector<std::string>& folders);
// Notes that the file at `path` was rewritten by settings (INI or XML
// values): it stays on record, its bytes are no longer known.
void noteFileRewritten(const std::string& path);
// Drops the recorded files, links and folders at or below `path` that are
// no longer on disk.
void noteRemovedUnder(const std::string& path);
// Drops recorded registry values of ROOT\KEY (`value` empty: of the key and
// every key below it).
void noteRegistryRemoved(const std::string& key, const std::optional<std::string>& value);

// Before a file that is on record with its digest is rewritten in place,
// the record stops claiming the digest (committed at once): a crash
// between the write and the commit then leaves no wrong digest behind.
void forgetRecordedDigest(const std::string& path);
// The same for every file at or below `folder`, in one transaction.
void forgetRecordedDigestsUnder(const std::string& folder);

// Before the file or link at `path` is moved or deleted, its item leaves
// the record (committed at once) and is returned: a crash half way leaves
// the record short of the file, never listing one that is gone.
std::optional<RecordItem> takeRecordedPath(const std::string& path);
// Puts an item taken out back, when the move or deletion did not happen.
void putBackRecordItem(RecordItem item);

// The recorded item of the file, link or folder at `path`.
std::optional<RecordItem> recordedPath(const std::string& path);
// Every recorded item (pending ones included).
std::vector<RecordItem> recordedItems();

// Writes what the current line noted. A record that cannot be written is
// reported once on stderr and in the log; the installation goes on.
void commitInstallRecord();

// The folders that exact removal left because they hold files the
// installation did not write.
void noteFolderKept(const std::string& folder);
bool installRecordKeptFolder(const std::string& folder);

// Removes the record file of this run and stops recording (the product is
// gone).
void discardInstallRecord();

}  // namespace lumo
