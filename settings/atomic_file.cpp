#include "settings/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string errnoText(int code) {
  return std::strerror(code);
}

std::string folderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens a new file beside `path` under an unused name "path.XXXXXX". Unlike
// mkstemp the file is created with 0644, so the umask applies as it would to
// an ordinary new file.
int createTemporary(const std::string &path, std::string &tempPath) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = path + '.';
    for (int i = 0; i < 6; ++i)
      tempPath += kLetters[pick(random)];
    int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  errno = EEXIST;
  return -1;
}

bool writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t written = write(fd, content.data(), content.size());
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Makes the rename itself durable. A folder that cannot be opened or synced
// does not make the write fail: the content is already safe in the file.
void syncFolder(const std::string &folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  fsync(fd);
  close(fd);
}

} // namespace

bool WriteFileAtomically(const std::string &path, std::string_view content, std::string &error) {
  return WriteFileAtomically(
      path, [content](const TFileWriter &write) { write(content); }, error);
}

bool WriteFileAtomically(const std::string &path,
                         const std::function<void(const TFileWriter &write)> &produce,
                         std::string &error) {
  std::string tempPath;
  int fd = createTemporary(path, tempPath);
  if (fd < 0) {
    error = errnoText(errno);
    return false;
  }
  auto discard = [&] {
    if (fd >= 0)
      close(fd);
    unlink(tempPath.c_str());
  };
  auto fail = [&](int code) {
    discard();
    error = errnoText(code);
    return false;
  };
  // The user may have narrowed (or widened) the old file's permissions; the
  // replacement keeps them.
  struct stat old {};
  if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && fchmod(fd, old.st_mode & 07777) != 0)
    return fail(errno);
  // The producer may call other code that sets errno: keep the write's own.
  int writeError = 0;
  const TFileWriter write = [&](std::string_view piece) {
    if (writeError == 0 && !writeAll(fd, piece))
      writeError = errno;
    return writeError == 0;
  };
  try {
    produce(write);
  } catch (...) {
    discard();
    throw;
  }
  if (writeError != 0)
    return fail(writeError);
  if (fsync(fd) != 0)
    return fail(errno);
  int closed = close(fd);
  fd = -1;
  if (closed != 0)
    return fail(errno);
  if (rename(tempPath.c_str(), path.c_str()) != 0)
    return fail(errno);
  syncFolder(folderOf(path));
  return true;
}
