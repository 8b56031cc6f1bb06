#include "platform/posix/errno_map.h"

#include <cerrno>

DWORD Win32ErrorFromErrno(int nErrno) {
  switch (nErrno) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EAGAIN:
      return ERROR_LOCK_VIOLATION;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EPIPE:
      return ERROR_BROKEN_PIPE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
      return ERROR_BUSY;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case ESPIPE:
      return ERROR_SEEK;
    case EFAULT:
      return ERROR_NOACCESS;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    case EIO:
      return ERROR_IO_DEVICE;
    case ENOSYS:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

void SetLastErrorFromErrno(int nErrno) { SetLastError(Win32ErrorFromErrno(nErrno)); }
