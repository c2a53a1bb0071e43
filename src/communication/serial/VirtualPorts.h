#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Virtual serial ports published by name (POSIX only).
//
// A program that offers a serial device without a /dev entry of its own, such as
// the simulated logger on a pseudo-terminal or socat making a pseudo-terminal pair,
// publishes it as a symbolic link NAME -> /dev/pts/N in the user's port directory:
//   $XDG_RUNTIME_DIR/wellscribe-ports/          when XDG_RUNTIME_DIR is set, else
//   /tmp/wellscribe-ports-<uid>/                a 0700 folder owned by the user.
// The folder is used only when it is a real directory owned by the user and not
// writable by anyone else, so no other user can plant a link in it.
// The port list shows each link as "NAME:" and CSerial::Open("NAME:") opens its target.
namespace virtual_ports {

// The user's port directory, created (0700) when missing; empty when it cannot be
// made safe, in which case nothing is published or resolved.
std::string Directory(bool create);

// The longest name that can be published: its port entry "NAME:" must fit the 15
// characters CSerial::Open accepts.
constexpr std::size_t MaxNameLength = 14;

// True when name can be published: 1 to 14 characters of letters, digits, '_', '-'
// and '.', not starting with '.'.
bool IsValidName(const std::string& name);

// Publishes target under name, replacing a stale link of the same name.
// Returns 0 or an errno value.
int Publish(const std::string& name, const std::string& target);

// Removes the link of name if it still points at target. Returns 0 or an errno value.
int Unpublish(const std::string& name, const std::string& target);

// The target device of a published name, or empty when none is published or the
// link, followed, leads to anything but a character device. A relative link is
// read from the port directory.
std::string Resolve(const std::string& name);

// The published names that resolve, sorted.
std::vector<std::string> List();

} // namespace virtual_ports
