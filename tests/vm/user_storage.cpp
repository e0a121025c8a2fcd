#include "user_storage.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fscrypt.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sandbox.h"

namespace phone {
namespace {

constexpr const char* user_dir = "/data/media/0";
constexpr size_t key_size = 64;  // FSCRYPT_MAX_KEY_SIZE, as vold's keys

unsigned char key[key_size];
unsigned char identifier[FSCRYPT_KEY_IDENTIFIER_SIZE];

bool fail(std::string* error, const std::string& what) {
  *error = what + ": " + strerror(errno);
  return false;
}

// The disk tools/phone_vm/phone-vm.sh made the file system on, by its serial.
std::string storage_disk() {
  DIR* d = opendir("/sys/block");
  std::string disk;
  while (dirent* e = d != nullptr ? readdir(d) : nullptr)
    if (sandbox::read_file(std::string("/sys/block/") + e->d_name + "/serial").rfind("userdata", 0) == 0)
      disk = std::string("/dev/") + e->d_name;
  if (d != nullptr) closedir(d);
  return disk;
}

// An ioctl on the file system's root, which the key calls take for the whole file system.
bool on_file_system(unsigned long request, void* arg, std::string* error, const char* what) {
  const int fd = open(storage_mount, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(error, std::string("open ") + storage_mount);
  const bool ok = ioctl(fd, request, arg) == 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok || fail(error, what);
}

bool add_key(std::string* error) {
  alignas(fscrypt_add_key_arg) unsigned char buffer[sizeof(fscrypt_add_key_arg) + key_size] = {};
  auto* arg = reinterpret_cast<fscrypt_add_key_arg*>(buffer);
  arg->key_spec.type = FSCRYPT_KEY_SPEC_TYPE_IDENTIFIER;
  arg->raw_size = key_size;
  memcpy(buffer + sizeof(fscrypt_add_key_arg), key, key_size);
  if (!on_file_system(FS_IOC_ADD_ENCRYPTION_KEY, arg, error, "FS_IOC_ADD_ENCRYPTION_KEY")) return false;
  memcpy(identifier, arg->key_spec.u.identifier, sizeof identifier);
  return true;
}

}  // namespace

bool mount_encrypted_storage(std::string* error) {
  const std::string disk = storage_disk();
  if (disk.empty()) {
    *error = "no disk with the serial \"userdata\"";
    return false;
  }
  if (mount(disk.c_str(), storage_mount, "ext4", MS_NOSUID | MS_NODEV | MS_STRICTATIME, nullptr) != 0)
    return fail(error, "mount " + disk);
  if (getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key)) return fail(error, "getrandom");
  if (!add_key(error)) return false;
  if (mkdir(user_dir, 0771) != 0) return fail(error, std::string("mkdir ") + user_dir);
  // What Android's libfscrypt sets for a v2 policy: AES-256-XTS for contents,
  // AES-256-CTS for names, padded to 16 bytes.
  fscrypt_policy_v2 policy = {};
  policy.version = FSCRYPT_POLICY_V2;
  policy.contents_encryption_mode = FSCRYPT_MODE_AES_256_XTS;
  policy.filenames_encryption_mode = FSCRYPT_MODE_AES_256_CTS;
  policy.flags = FSCRYPT_POLICY_FLAGS_PAD_16;
  memcpy(policy.master_key_identifier, identifier, sizeof identifier);
  const int fd = open(user_dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(error, std::string("open ") + user_dir);
  const bool set = ioctl(fd, FS_IOC_SET_ENCRYPTION_POLICY, &policy) == 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return set || fail(error, "FS_IOC_SET_ENCRYPTION_POLICY");
}

bool lock_storage(std::string* error) {
  sync();
  fscrypt_remove_key_arg arg = {};
  arg.key_spec.type = FSCRYPT_KEY_SPEC_TYPE_IDENTIFIER;
  memcpy(arg.key_spec.u.identifier, identifier, sizeof identifier);
  if (!on_file_system(FS_IOC_REMOVE_ENCRYPTION_KEY, &arg, error, "FS_IOC_REMOVE_ENCRYPTION_KEY")) return false;
  if (arg.removal_status_flags != 0) {
    *error = "the key stays in the kernel (removal status " + std::to_string(arg.removal_status_flags) +
             "): a file there is in use";
    return false;
  }
  return true;
}

bool unlock_storage(std::string* error) { return add_key(error); }

void unmount_encrypted_storage() {
  if (umount(storage_mount) != 0) umount2(storage_mount, MNT_DETACH);
}

}  // namespace phone
