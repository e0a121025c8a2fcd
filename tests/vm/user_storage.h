// The user's storage of a phone with file-based encryption, on the virtual
// phone: /data/media/0 in a real ext4 file system with the encrypt feature
// (made by tools/phone_vm/phone-vm.sh on the disk with the serial "userdata"), under a
// v2 policy, locked and unlocked with the kernel's own key calls, as vold
// does it for user 0's credential-encrypted storage (FsCrypt.cpp).
#pragma once

#include <string>

namespace phone {

inline constexpr const char* storage_mount = "/data/media";

// Mounts the file system over the tmpfs's /data/media, adds a fresh key and
// puts an empty /data/media/0 under a policy with it: unlocked. The mount
// has strictatime, so that every read or listing shows in an access time.
// False, with the reason in *error.
bool mount_encrypted_storage(std::string* error);
// Removes the key, as after a reboot before the first unlock: the names read
// encrypted, and nothing there opens or can be made (ENOKEY). False when a
// file in use kept the key in the kernel.
bool lock_storage(std::string* error);
// Adds the key again: the first unlock.
bool unlock_storage(std::string* error);
// The tmpfs's /data/media again.
void unmount_encrypted_storage();

}  // namespace phone
