#pragma once
// Where named objects live. Each named object is one file in /dev/shm whose name is built from the
// scope, the kind of object and the object's own name:
//
//   /dev/shm/vantrel.<scope>.<kind>.<name>
//
// Scope and name are percent-encoded (every byte outside [A-Za-z0-9_-] becomes %XX), so any text
// maps to exactly one file name and none can hold a '/' or reach outside /dev/shm. A name too long
// for a file name keeps a readable prefix and ends in '~' and a digest of the whole name; the full
// name is also stored inside the object and checked at open, so two long names can never share one
// object.
//
// The scope comes from the environment variable VANTREL_IPC_SCOPE ("default" when unset or empty):
// processes started with different scopes never see each other's objects.

#include <string>
#include <string_view>

namespace vantrel::platform {

enum class ObjectKind { shared_memory, mutex, semaphore };

// The scope of this process's named objects. Throws PlatformError(invalid_name) when
// VANTREL_IPC_SCOPE is longer than 64 bytes.
std::string ipc_scope();

// The file name (without directory) of an object. Pure: depends only on its arguments.
std::string object_file_name(std::string_view scope, ObjectKind kind, std::string_view name);

// The directory holding every named object.
inline constexpr const char* kObjectDirectory = "/dev/shm";

// Percent-encoding used for scopes and names.
std::string encode_name(std::string_view text);

}  // namespace vantrel::platform
