// An output file that appears complete or not at all.
//
// The output is written to a temporary file in the destination's directory, made durable
// (fsync; FlushFileBuffers on Windows), and renamed over the destination only when the command
// succeeds (rename; MoveFileExW on Windows). Until then an existing destination stays untouched,
// and a command that fails (or is interrupted: Ctrl+C, SIGTERM, SIGHUP, SIGQUIT, a closed console)
// removes the temporary file, so no half-written file is ever left behind.
//
// The temporary file is created before the command's work starts, so an unwritable destination
// fails at once rather than after a long run. A new file gets mode 0666 less the umask; a
// replaced file keeps its permission bits, and a symbolic link keeps pointing to the new file. A
// destination that exists but is not a regular file (/dev/null or NUL, a FIFO) is written in
// place: it cannot be replaced by renaming.
#pragma once

#include <string>
#include <string_view>

namespace syskit::cli {

class AtomicOutputFile {
  public:
    // Creates the temporary file next to `path` (exclusively, mode 0666 less the umask).
    explicit AtomicOutputFile(std::string path);
    // Removes the temporary file unless the output was committed.
    ~AtomicOutputFile();

    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    void write(std::string_view data);

    // Flushes the data to disk and renames the temporary file over the destination.
    void commit();

  private:
    void discard() noexcept;

    std::string path_;    // as the user named it, for messages
    std::string target_;  // the file replaced: path_, or the file a symbolic link points to
    std::string temp_path_;
    int fd_ = -1;
};

}  // namespace syskit::cli
