// The output file's policy, written once for every system in terms of the
// primitives of platform.h: what a new file gets, what a replacing file keeps
// of the older one, and when the new file is named, guarded, committed and
// removed.
//
// The new file is made in the target's folder, without a name where the
// system allows it (Linux), so that nothing is left whatever ends the run,
// SIGKILL and a power loss included. It takes a name
// (pixmar-<process number>-<n>.tmp) only just before it is renamed over the
// target, with everything that would end the process held back in between;
// a first header takes the target's name directly, in one step. Elsewhere
// it has such a name from the start, guarded: what ends the process removes
// it first. Everything happens in one opened folder, so that a folder
// renamed meanwhile is still the one cleaned.
#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "platform.h"

namespace pixmar {

namespace {

// The one new file at a time.
struct NewFile {
    Place place;
    std::string target;
    char temporary[48] = {};  // a fixed buffer: naming allocates nothing
    bool named = false;
    bool open = false;
};
NewFile new_file;
unsigned temporaries = 0;

void choose_temporary_name()
{
    std::snprintf(new_file.temporary, sizeof new_file.temporary, "pixmar-%d-%u.tmp", process_number(), temporaries++);
}

// Runs with the ending signals held.
void end_new_file()
{
    unguard_name();
    close_place(new_file.place);
    new_file.named = new_file.open = false;
}

// Private while it is written (readable by its owner only): its final owner
// and mode are given just before it takes the target's name. One at a time;
// nullptr when it cannot be made, std::bad_alloc when memory for its stream
// cannot be had.
std::FILE* create_new_file(const std::string& target)
{
    if (new_file.open || !open_place(target, new_file.place))
        return nullptr;
    // An append-only folder: an older header there could never be replaced,
    // and a new file with a temporary name would stay behind under it.
    if (is_append_only(new_file.place)) {
        close_place(new_file.place);
        return nullptr;
    }
    new_file.target = target;
    hold_ending_signals();  // creating and guarding are one step
    std::FILE* file = create_file(new_file.place, nullptr);
    bool no_memory = !file && errno == ENOMEM;
    for (int attempt = 0; !file && !no_memory && attempt < 100; ++attempt) {
        choose_temporary_name();
        file = create_file(new_file.place, new_file.temporary);
        new_file.named = file != nullptr;
        no_memory = !file && errno == ENOMEM;
        if (!file && errno != EEXIST)
            break;
    }
    new_file.open = file != nullptr;
    if (new_file.named)
        guard_name(new_file.place, new_file.temporary);
    if (!file)
        close_place(new_file.place);
    release_ending_signals();
    if (no_memory)
        throw std::bad_alloc();  // the run's memory message, not an opening error
    return file;
}

// Closes the new file and removes it.
void discard_new_file(std::FILE* file)
{
    hold_ending_signals();
    std::fclose(file);
    if (new_file.named)
        remove_file(new_file.place, new_file.temporary);
    end_new_file();
    release_ending_signals();
}

enum class Identity { failed, first, replacing };

// Gives the new file what the older target has: its owner and group where
// the running user may set them, its permission bits, ACL and user.
// attributes. Where there is none (or it is no regular file: a FIFO, socket
// or device is replaced by a regular file), what any file created there with
// mode 0666 gets: the folder's default ACL, or else 0666 less the umask.
Identity give_identity(std::FILE* file, OlderFile& older)
{
    if (!open_older_file(new_file.place, new_file.target, older))
        return Identity::failed;
    const Identity identity = older.kind == OlderFile::Kind::none ? Identity::first : Identity::replacing;
    if (older.kind != OlderFile::Kind::regular)
        return give_default_acl(new_file.place, file) || set_mode(file, 0666 & ~creation_mask()) ? identity
                                                                                                   : Identity::failed;
    // Root keeps both; a member of the older header's group keeps the group,
    // as sed -i does. A group that cannot be kept is given nothing, and the
    // others no more than it had: its members are others now, and gain no
    // access the older header did not give them.
    const bool group_kept = set_owner(file, long(older.uid), long(older.gid)) || set_owner(file, -1, long(older.gid));
    const unsigned group = (older.mode >> 3) & 07;
    const unsigned mode = group_kept ? older.mode & 0777 : (older.mode & 0700) | (older.mode & group);
    // An ACL that cannot be copied would widen who may read the header; a
    // user. attribute that cannot be read is dropped.
    if (!set_mode(file, mode) || !copy_access_acl(older, file, !group_kept))
        return Identity::failed;
    if (!copy_user_attributes(older, file))
        throw std::bad_alloc();
    return identity;
}

// Closes the new file and moves it over the target in one step. False when
// any of it fails: the file is gone then, and the target untouched.
bool commit_new_file(std::FILE* file)
{
    Identity identity = Identity::failed;
    OlderFile older;
    try {
        identity = give_identity(file, older);
    } catch (...) {
        // Memory that runs out while the older header's identity is copied
        // leaves no file behind either.
        close_older_file(older);
        discard_new_file(file);
        throw;
    }
    close_older_file(older);
    bool done = identity != Identity::failed && std::fflush(file) == 0;
    // From naming to renaming, nothing ends the run half-way: a signal that
    // arrives meanwhile ends it just after, with the new header in place.
    hold_ending_signals();
    if (done && identity == Identity::first && !new_file.named &&
        link_file(new_file.place, file, new_file.place.name.c_str())) {
        done = std::fclose(file) == 0;
        if (!done)
            remove_file(new_file.place, new_file.place.name.c_str());  // no header rather than a damaged one
    } else {
        for (int attempt = 0; done && !new_file.named && attempt < 100; ++attempt) {
            choose_temporary_name();
            new_file.named = link_file(new_file.place, file, new_file.temporary);
            done = new_file.named || errno == EEXIST;
        }
        done = std::fclose(file) == 0 && done && new_file.named;
        done = done && rename_file(new_file.place, new_file.temporary, new_file.place.name.c_str());
        if (!done && new_file.named)
            remove_file(new_file.place, new_file.temporary);
    }
    end_new_file();
    release_ending_signals();
    return done;
}

}  // namespace

void remove_unfinished_output()
{
    remove_guarded_name();
}

bool open_output(const std::string& target, OutputFile& output)
{
    // A folder at the target's name can never be replaced by a file, a path
    // too long to name a file must fail before anything is written, and a
    // file its user may not write is not to be replaced behind their back.
    const PathKind kind = path_kind(target);
    if (kind == PathKind::folder || kind == PathKind::unusable || is_write_protected(target))
        return false;
    output.replaces_older_ = kind == PathKind::other;
    output.stream_ = create_new_file(target);
    if (!output.stream_)
        return false;
    // Writers hand over whole blocks of their own; a stream buffer would
    // only split each block into two writes.
    std::setvbuf(output.stream_, nullptr, _IONBF, 0);
    return true;
}

bool write_output(OutputFile& output, const char* bytes, std::size_t size)
{
    if (std::fwrite(bytes, 1, size, output.stream_) != size)
        return false;
    if (output.replaces_older_)
        start_writing_out(output.stream_, output.written_, size);
    output.written_ += size;
    return true;
}

OutputFile::~OutputFile()
{
    if (stream_)
        finish_output(*this, false);
}

bool finish_output(OutputFile& output, bool complete)
{
    std::FILE* const stream = output.stream_;
    output.stream_ = nullptr;
    // Only a complete file takes the target's name; an older one stays until then.
    if (complete)
        return commit_new_file(stream);
    discard_new_file(stream);
    return false;
}

bool write_whole_file(const std::string& path, const std::uint8_t* bytes, std::size_t size)
{
    OutputFile output;
    if (!open_output(path, output))
        return false;
    return finish_output(output, write_output(output, reinterpret_cast<const char*>(bytes), size));
}

bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    return write_whole_file(path, bytes.data(), bytes.size());
}

}  // namespace pixmar
