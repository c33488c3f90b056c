// The in-memory FileSystem of the tests: the rules of the Win32 calls the
// patcher and the update run rely on, faults on demand, a log of what was
// done, and a model of what a power cut would leave on the disk.
//
// Win32 rules. A read-only file cannot be deleted, created anew (emptied) or
// stamped, but it can be moved and keeps its attribute; a move fails when
// anything exists at its destination. A file made by CreateNew cannot be
// deleted while it is open (it is opened without delete sharing). A file open for reading sees what is
// written to it later: creating the same path anew empties it under the
// reader.
//
// Durability. What the program has done so far is the volume's state "now",
// which every call sees. What a power cut would leave is worked out from what
// the program has made durable, in this model:
//
//  - A file's state (content, read-only attribute, times) is durable once
//    OutputFile::Sync or SyncFile has been called for it; writes, attribute
//    changes and stamps after that are volatile. After a cut an unsynced file
//    holds either its durable state or its state now, as a whole. A file
//    still open for writing may also be cut where any write since its last
//    sync began, or one byte short of where it ended (a torn write): that is
//    how an appended log such as the update record can end. A closed file
//    that was not synced is not cut part-way; it is old or new.
//  - Creating a file, deleting one and moving one change directory entries.
//    Such a change is volatile until every directory it touches has been
//    synced (SyncDirectory) after it; a move between two directories touches
//    both. A move is atomic: after a cut the file is under its old name or
//    under its new one, never under both or neither.
//  - Volatile entry changes may reach the disk in any order and any subset,
//    with one constraint: a change to a name needs the earlier volatile
//    changes to that same name (moving "Clone.tmp" needs the create that made
//    it; moving a file to a name needs the delete or move that freed it). A
//    change that became durable takes those it needs with it.
//  - File states and entries are independent: an entry can survive while
//    the file it names holds its old content, and the other way round.
//  - A sync that fails makes nothing durable.
//
// This asks less of the disk than journalling file systems give (ext4, XFS
// and NTFS commit entry changes in the order they were made, so they leave
// only some of these states) and as much as any file system that honours
// fsync of files and directories and renames atomically: code that survives
// every state here survives a power cut there. A killed process is the
// simpler case: it leaves the state now.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "seams/file_system.h"

namespace morivane::testing {

using Bytes = std::vector<std::uint8_t>;

// What one file holds.
struct FileState {
    std::string content;
    bool readOnly = false;
    std::optional<std::int64_t> time;  // access and modification time
    auto operator<=>(const FileState&) const = default;
};

// Every file of a volume by path.
using DiskImage = std::map<std::string, FileState>;

// A 64-bit digest that tells disks apart: equal disks have equal keys, and
// two different ones share a key only by a chance of about one in 2^64, so
// that a search can remember the many disks it has met cheaply.
using DiskKey = std::uint64_t;

// FNV-1a over `n` bytes, continuing from `h`.
inline std::uint64_t Fnv(std::uint64_t h, const void* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        h = (h ^ static_cast<const unsigned char*>(data)[i]) * 0x100000001b3ull;
    }
    return h;
}

// Mixes `digest` into `key` (the finalizer of splitmix64): the order counts.
inline std::uint64_t AddToKey(std::uint64_t key, std::uint64_t digest) {
    std::uint64_t z = key ^ digest;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

inline std::uint64_t DigestOf(const std::string& path) {
    const std::size_t size = path.size();
    return Fnv(Fnv(0xcbf29ce484222325ull, &size, sizeof size), path.data(), size);
}

inline std::uint64_t DigestOf(const FileState& file) {
    const std::size_t size = file.content.size();
    const std::int64_t time = file.time.value_or(-1);
    const unsigned char flags = (file.readOnly ? 1 : 0) | (file.time ? 2 : 0);
    std::uint64_t h = Fnv(0xcbf29ce484222325ull, &size, sizeof size);
    h = Fnv(h, file.content.data(), size);
    h = Fnv(h, &time, sizeof time);
    return Fnv(h, &flags, 1);
}

inline constexpr DiskKey kEmptyDiskKey = 0x9e3779b97f4a7c15ull;

// Adds the next file of a disk, in path order, to its key.
inline DiskKey AddToKey(DiskKey key, std::uint64_t pathDigest, std::uint64_t fileDigest) {
    return AddToKey(key, AddToKey(pathDigest, fileDigest));
}

inline DiskKey KeyOf(const DiskImage& disk) {
    DiskKey key = kEmptyDiskKey;
    for (const auto& [path, file] : disk) key = AddToKey(key, DigestOf(path), DigestOf(file));
    return key;
}

// The directory part of `path`, up to and including its last separator
// (backslash or slash); empty when it has none.
inline std::string DirectoryPart(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// The files of a volume, now and as durable as the program made them. A value:
// copying it keeps one instant to work out its power cuts later.
class Volume {
  public:
    bool Has(const std::string& path) const { return names_.count(path) != 0; }
    // The file at `path` now; null when there is none.
    const FileState* Find(const std::string& path) const {
        auto it = names_.find(path);
        return it == names_.end() ? nullptr : &inodes_[it->second].now;
    }
    // Every file now: what a killed process leaves.
    DiskImage Now() const {
        DiskImage image;
        for (const auto& [path, inode] : names_) image[path] = inodes_[inode].now;
        return image;
    }
    // Counts the changes other than to directory entries: to files, to what
    // is durable. Between two instants with the same count only entries
    // changed, so every disk a cut at the earlier one can leave, a cut at the
    // later one can leave too.
    long FileChanges() const { return fileChanges_; }
    // Every different disk a power cut at this instant can leave.
    // With `wanted`, only those whose key (KeyOf) it accepts: it sees each
    // key once and spares building the disks it has seen before.
    std::vector<DiskImage> AfterPowerCut(
        const std::function<bool(DiskKey key)>& wanted = nullptr) const {
        Images images{{}, {}, {}, wanted};
        std::vector<bool> kept(pending_.size(), false);
        std::map<std::string, int> names = durableNames_;
        ChooseEntries(0, kept, names, images);
        return std::move(images.list);
    }

    // --- Changes, as MemoryFileSystem makes them.

    // Replaces everything with `image`, all of it durable.
    void Load(const DiskImage& image) {
        *this = Volume();
        for (const auto& [path, state] : image) Put(path, state);
    }
    // A file that has been on the disk all along.
    void Put(const std::string& path, const FileState& state) {
        const int inode = NewInode(state);
        names_[path] = inode;
        durableNames_[path] = inode;
    }
    int InodeAt(const std::string& path) const {
        auto it = names_.find(path);
        return it == names_.end() ? -1 : it->second;
    }
    const FileState& State(int inode) const { return inodes_[inode].now; }
    void SetReadOnly(int inode, bool readOnly) {
        inodes_[inode].now.readOnly = readOnly;
        ++fileChanges_;
    }
    void SetTime(int inode, std::int64_t time) {
        inodes_[inode].now.time = time;
        ++fileChanges_;
    }

    // A new, empty file at `path` (nothing is there).
    int Create(const std::string& path) {
        const int inode = NewInode(FileState{});
        names_[path] = inode;
        AddEntry(Entry::kCreate, {}, path, inode);
        return inode;
    }
    void Remove(const std::string& path) {
        const int inode = names_.at(path);
        names_.erase(path);
        AddEntry(Entry::kDelete, path, {}, inode);
    }
    void Rename(const std::string& from, const std::string& to) {
        const int inode = names_.at(from);
        names_.erase(from);
        names_[to] = inode;
        AddEntry(Entry::kMove, from, to, inode);
    }
    // Writing to a file open for writing, and the points at which a cut may
    // end its content.
    void OpenForWriting(int inode) {
        ++inodes_[inode].writers;
        ++fileChanges_;
    }
    void ClosedForWriting(int inode) {
        if (--inodes_[inode].writers == 0) inodes_[inode].cuts.clear();
        ++fileChanges_;
    }
    void Truncate(int inode) {
        inodes_[inode].now.content.clear();
        inodes_[inode].cuts.push_back(0);
        ++fileChanges_;
    }
    void Append(int inode, const char* data, std::size_t n) {
        Inode& node = inodes_[inode];
        const std::size_t start = node.now.content.size();
        node.now.content.append(data, n);
        node.cuts.push_back(start);
        if (n > 1) node.cuts.push_back(start + n - 1);
        ++fileChanges_;
    }
    void SyncFile(int inode) {
        inodes_[inode].durable = inodes_[inode].now;
        inodes_[inode].cuts.clear();
        ++fileChanges_;
    }
    // `directory` with or without its trailing separator.
    void SyncDirectory(std::string directory) {
        if (!directory.empty() && directory.back() != '\\' && directory.back() != '/') {
            directory += directory.find('\\') == std::string::npos &&
                                 directory.find('/') != std::string::npos
                             ? '/'
                             : '\\';
        }
        for (Entry& entry : pending_) {
            entry.unsynced.erase(directory);
            if (entry.unsynced.empty()) MakeDurable(entry);
        }
        ++fileChanges_;
        std::size_t applied = 0;
        while (applied < pending_.size() && pending_[applied].durable) {
            Apply(pending_[applied++], durableNames_);
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(applied));
    }

  private:
    struct Inode {
        FileState now;
        FileState durable;
        std::vector<std::size_t> cuts;  // lengths a cut may leave, while open
        int writers = 0;
    };
    struct Entry {
        enum Kind { kCreate, kDelete, kMove } kind;
        std::string from;  // delete, move
        std::string to;    // create, move
        int inode;
        long id;
        std::set<std::string> unsynced;  // directories still to be synced
        std::vector<long> needs;         // earlier volatile changes to its names
        bool durable = false;
    };

    int NewInode(const FileState& state) {
        inodes_.push_back(Inode{state, state, {}, 0});
        return static_cast<int>(inodes_.size()) - 1;
    }
    long FirstPendingId() const { return pending_.empty() ? nextId_ : pending_.front().id; }
    Entry* Pending(long id) {
        return id < FirstPendingId() ? nullptr
                                     : &pending_[static_cast<std::size_t>(id - FirstPendingId())];
    }

    void AddEntry(Entry::Kind kind, const std::string& from, const std::string& to, int inode) {
        Entry entry{kind, from, to, inode, nextId_++, {}, {}, false};
        for (const std::string& name : {from, to}) {
            if (name.empty()) continue;
            entry.unsynced.insert(DirectoryPart(name));
            auto last = lastChange_.find(name);
            if (last != lastChange_.end() && last->second >= FirstPendingId()) {
                entry.needs.push_back(last->second);
            }
            lastChange_[name] = entry.id;
        }
        pending_.push_back(std::move(entry));
    }
    void MakeDurable(Entry& entry) {
        if (entry.durable) return;
        entry.durable = true;
        for (long id : entry.needs) {
            if (Entry* needed = Pending(id)) MakeDurable(*needed);
        }
    }
    // The states a cut can leave in one file, with their digests.
    struct Options {
        std::vector<FileState> states;
        std::vector<std::uint64_t> digests;
    };
    // What one enumeration of the cuts collects.
    struct Images {
        std::vector<DiskImage> list;
        std::unordered_set<DiskKey> keys;
        std::map<int, Options> options;  // by inode
        std::function<bool(DiskKey key)> wanted;
    };

    static void Apply(const Entry& entry, std::map<std::string, int>& names) {
        if (!entry.from.empty()) names.erase(entry.from);
        if (!entry.to.empty()) names[entry.to] = entry.inode;
    }

    // Decides for each volatile entry change, in order, whether the cut kept
    // it; a change is kept only with every change it needs. `names` holds
    // the entries the decisions so far leave.
    void ChooseEntries(std::size_t i, std::vector<bool>& kept, std::map<std::string, int>& names,
                       Images& images) const {
        if (i == pending_.size()) {
            AddFileStates(names, images);
            return;
        }
        const Entry& entry = pending_[i];
        const bool canKeep = std::all_of(entry.needs.begin(), entry.needs.end(), [&](long id) {
            return id < FirstPendingId() || kept[static_cast<std::size_t>(id - FirstPendingId())];
        });
        if (canKeep) {
            // Applies the change and takes it back afterwards.
            std::optional<int> from;
            std::optional<int> to;
            if (auto it = names.find(entry.from); it != names.end()) from = it->second;
            if (auto it = names.find(entry.to); it != names.end()) to = it->second;
            Apply(entry, names);
            kept[i] = true;
            ChooseEntries(i + 1, kept, names, images);
            kept[i] = false;
            if (!entry.to.empty()) {
                if (to) {
                    names[entry.to] = *to;
                } else {
                    names.erase(entry.to);
                }
            }
            if (from) names[entry.from] = *from;
        }
        if (!entry.durable) ChooseEntries(i + 1, kept, names, images);
    }

    // The states a cut can leave in one file.
    Options Possible(const Inode& node) const {
        std::set<FileState> states = {node.durable, node.now};
        if (node.writers > 0) {
            for (std::size_t length : node.cuts) {
                FileState cut = node.now;
                cut.content.resize(std::min(length, cut.content.size()));
                states.insert(cut);
            }
        }
        Options options{std::vector<FileState>(states.begin(), states.end()), {}};
        for (const FileState& state : options.states) options.digests.push_back(DigestOf(state));
        return options;
    }

    // Every combination of the named files' possible states.
    void AddFileStates(const std::map<std::string, int>& names, Images& images) const {
        struct Choice {
            const std::string* path;
            std::uint64_t pathDigest;
            const Options* options;
        };
        std::vector<Choice> choices;
        choices.reserve(names.size());
        for (const auto& [path, inode] : names) {
            auto known = images.options.find(inode);
            if (known == images.options.end()) {
                known = images.options.emplace(inode, Possible(inodes_[inode])).first;
            }
            choices.push_back({&path, DigestOf(path), &known->second});
        }
        std::vector<std::size_t> pick(choices.size(), 0);
        while (true) {
            DiskKey key = kEmptyDiskKey;
            for (std::size_t k = 0; k < choices.size(); ++k) {
                key = AddToKey(key, choices[k].pathDigest, choices[k].options->digests[pick[k]]);
            }
            if (images.keys.insert(key).second && (!images.wanted || images.wanted(key))) {
                DiskImage& image = images.list.emplace_back();
                for (std::size_t k = 0; k < choices.size(); ++k) {
                    image.emplace_hint(image.end(), *choices[k].path,
                                       choices[k].options->states[pick[k]]);
                }
            }
            std::size_t k = 0;
            while (k < choices.size() && ++pick[k] == choices[k].options->states.size()) {
                pick[k++] = 0;
            }
            if (k == choices.size()) return;
        }
    }

    std::vector<Inode> inodes_;
    std::map<std::string, int> names_;         // now
    std::map<std::string, int> durableNames_;  // before the first volatile change
    std::vector<Entry> pending_;               // entry changes not yet applied to durableNames_
    std::map<std::string, long> lastChange_;   // name -> the last change to it
    long nextId_ = 0;
    long fileChanges_ = 0;
};

class MemoryFileSystem : public FileSystem {
  public:
    // --- Contents. Put makes a file that has been on the disk all along.
    void Put(const std::string& path, const FileState& state) { volume_.Put(path, state); }
    void Put(const std::string& path, const std::string& content, bool readOnly = false,
             std::optional<std::int64_t> time = std::nullopt) {
        Put(path, FileState{content, readOnly, time});
    }
    void Put(const std::string& path, const Bytes& bytes) {
        Put(path, std::string(bytes.begin(), bytes.end()));
    }
    bool Has(const std::string& path) const { return volume_.Has(path); }
    // The file at `path`, which must exist.
    const FileState& At(const std::string& path) const { return *volume_.Find(path); }
    std::string Text(const std::string& path) const {
        const FileState* file = volume_.Find(path);
        return file == nullptr ? std::string() : file->content;
    }
    Bytes Get(const std::string& path) const {
        const std::string text = Text(path);
        return Bytes(text.begin(), text.end());
    }
    DiskImage Image() const { return volume_.Now(); }
    const Volume& volume() const { return volume_; }
    // Replaces every file with `image`, all of it durable; nothing may be open.
    void Load(const DiskImage& image) { volume_.Load(image); }

    // --- Faults.
    std::set<std::string> unreadable;     // OpenForReading fails
    std::set<std::string> uncreatable;    // CreateForWriting fails
    std::set<std::string> undeletable;    // Delete fails
    std::set<std::string> unmovableFrom;  // Move from this path fails
    std::set<std::string> unmovableTo;    // Move to this path fails
    std::set<std::string> unstampable;    // SetTimes fails
    std::set<std::string> unsyncable;     // Sync, SyncFile or SyncDirectory fails
    int failSyncNumber = 0;               // the n-th sync of any kind fails (from 1)
    // Decides whether one particular move fails.
    std::function<bool(const std::string& from, const std::string& to)> moveFails;
    std::optional<std::int64_t> lengthOverride;  // what InputFile::Length reports
    std::optional<std::size_t> readLimit;        // bytes one Read delivers at most
    std::optional<std::size_t> diskSpace;        // bytes all writes together may store
    std::optional<int> failingWrite;             // this write (1 = first) stores nothing
    bool failClose = false;                      // OutputFile::Close reports failure
    std::set<std::string> heldElsewhere;  // open in another process: OpenUnshared sees it in use

    // --- Observations.
    std::vector<std::string> log;     // "move A -> B", "delete A", "sync A", "sync directory D"
    std::vector<std::string> closes;  // "close A", each time a file is closed
    std::vector<std::string> looks;   // paths opened for reading or asked about, in order
    int openInputs = 0;
    int openOutputs = 0;
    int OpenFiles() const { return openInputs + openOutputs; }
    int syncs = 0;  // syncs of any kind so far
    int writeCalls = 0;
    std::vector<std::size_t> writeCounts;  // items asked for by each write
    std::set<std::string> held;            // made by CreateNew and still open
    // Runs before each create, close of a written file, sync, attribute
    // change, delete, move and time stamp, before it takes effect.
    std::function<void()> beforeMutation;

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        looks.push_back(path);
        const int inode = volume_.InodeAt(path);
        if (inode < 0 || unreadable.count(path) != 0) return nullptr;
        return std::make_unique<Input>(*this, path, inode);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        Mutating();
        return Create(path);
    }
    // Fails when the path exists (also when something appears there at the
    // mutation hook); the file counts as in use for OpenUnshared until it is
    // closed.
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
        Mutating();
        if (Has(path)) return nullptr;
        std::unique_ptr<OutputFile> out = Create(path);
        if (out != nullptr) {
            held.insert(path);
            static_cast<Output&>(*out).holds_ = true;
        }
        return out;
    }
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override {
        *inUse = held.count(path) != 0 || heldElsewhere.count(path) != 0;
        if (!*inUse) return OpenForReading(path);
        looks.push_back(path);
        return nullptr;
    }
    bool Exists(const std::string& path) override {
        looks.push_back(path);
        return Has(path);
    }
    bool IsWritable(const std::string& path) override {
        looks.push_back(path);
        const FileState* file = volume_.Find(path);
        return file != nullptr && !file->readOnly;
    }
    bool MakeWritable(const std::string& path) override {
        Mutating();
        const int inode = volume_.InodeAt(path);
        if (inode < 0) return false;
        volume_.SetReadOnly(inode, false);
        return true;
    }
    bool Delete(const std::string& path) override {
        Mutating();
        log.push_back("delete " + path);
        const FileState* file = volume_.Find(path);
        if (file == nullptr || file->readOnly || undeletable.count(path) != 0 ||
            held.count(path) != 0) {
            return false;
        }
        volume_.Remove(path);
        return true;
    }
    bool Move(const std::string& from, const std::string& to) override {
        Mutating();
        log.push_back("move " + from + " -> " + to);
        if (!Has(from) || Has(to) || unmovableFrom.count(from) != 0 || unmovableTo.count(to) != 0 ||
            (moveFails && moveFails(from, to))) {
            return false;
        }
        volume_.Rename(from, to);
        return true;
    }
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override {
        Mutating();
        const int inode = volume_.InodeAt(path);
        if (inode < 0 || volume_.State(inode).readOnly || unstampable.count(path) != 0) {
            return false;
        }
        volume_.SetTime(inode, unixSeconds);
        return true;
    }
    bool SyncFile(const std::string& path) override {
        Mutating();
        log.push_back("sync " + path);
        const int inode = volume_.InodeAt(path);
        if (SyncFails(path) || inode < 0) return false;
        volume_.SyncFile(inode);
        return true;
    }
    bool SyncDirectory(const std::string& path) override {
        Mutating();
        log.push_back("sync directory " + path);
        if (SyncFails(path)) return false;
        volume_.SyncDirectory(path);
        return true;
    }

  private:
    void Mutating() {
        if (beforeMutation) beforeMutation();
    }
    // Creates or empties the file at `path`, after the mutation hook.
    std::unique_ptr<OutputFile> Create(const std::string& path) {
        int inode = volume_.InodeAt(path);
        if (uncreatable.count(path) != 0 || (inode >= 0 && volume_.State(inode).readOnly)) {
            return nullptr;
        }
        if (inode >= 0) {
            volume_.Truncate(inode);
        } else {
            inode = volume_.Create(path);
        }
        return std::make_unique<Output>(*this, path, inode);
    }
    bool SyncFails(const std::string& path) {
        return ++syncs == failSyncNumber || unsyncable.count(path) != 0;
    }

    // Reads the file's content as it is at each call.
    class Input : public InputFile {
      public:
        Input(MemoryFileSystem& fs, std::string path, int inode)
            : fs_(fs), path_(std::move(path)), inode_(inode) {
            ++fs_.openInputs;
        }
        ~Input() override {
            --fs_.openInputs;
            fs_.closes.push_back("close " + path_);
        }
        std::int64_t Length() override {
            if (fs_.lengthOverride) return *fs_.lengthOverride;
            return static_cast<std::int64_t>(Content().size());
        }
        std::size_t Read(void* buffer, std::size_t size, std::size_t count) override {
            if (size == 0) return 0;
            const std::string& content = Content();
            std::size_t bytes =
                std::min(size * count, content.size() - std::min(pos_, content.size()));
            if (fs_.readLimit) bytes = std::min(bytes, *fs_.readLimit);
            if (bytes > 0) std::memcpy(buffer, content.data() + pos_, bytes);
            pos_ += bytes;
            return bytes / size;
        }

      private:
        const std::string& Content() const { return fs_.volume_.State(inode_).content; }
        MemoryFileSystem& fs_;
        std::string path_;
        int inode_;
        std::size_t pos_ = 0;
    };

    class Output : public OutputFile {
      public:
        Output(MemoryFileSystem& fs, std::string path, int inode)
            : fs_(fs), path_(std::move(path)), inode_(inode) {
            ++fs_.openOutputs;
            fs_.volume_.OpenForWriting(inode_);
        }
        ~Output() override {
            if (open_) Finish();
        }
        std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
            ++fs_.writeCalls;
            fs_.writeCounts.push_back(count);
            if (!open_) return 0;
            std::size_t bytes = size * count;
            if (fs_.failingWrite && *fs_.failingWrite == fs_.writeCalls) bytes = 0;
            if (fs_.diskSpace) {
                bytes = std::min(bytes, *fs_.diskSpace);
                *fs_.diskSpace -= bytes;
            }
            fs_.volume_.Append(inode_, static_cast<const char*>(buffer), bytes);
            return size == 0 ? 0 : bytes / size;
        }
        bool Close() override {
            fs_.Mutating();
            if (!open_) return false;
            Finish();
            return !fs_.failClose;
        }
        bool Sync() override {
            fs_.Mutating();
            if (fs_.SyncFails(path_) || !open_) return false;
            fs_.volume_.SyncFile(inode_);
            return true;
        }

        bool holds_ = false;  // made by CreateNew

      private:
        void Finish() {
            open_ = false;
            if (holds_) fs_.held.erase(path_);
            --fs_.openOutputs;
            fs_.volume_.ClosedForWriting(inode_);
            fs_.closes.push_back("close " + path_);
        }
        MemoryFileSystem& fs_;
        std::string path_;
        int inode_;
        bool open_ = true;
    };

    Volume volume_;
};

}  // namespace morivane::testing
