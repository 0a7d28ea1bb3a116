#pragma once
// An in-memory registry for native tests of the application lookup: keys with values in
// insertion order, the HKLM 64/32-bit views as separate trees, an environment for
// REG_EXPAND_SZ, and faults on request. It records every open so tests can check access masks
// and that every opened key was closed again.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace ombrel::test {

class MemoryRegistry final : public platform::Registry {
 public:
  enum class Tree { kCurrentUser, kMachine64, kMachine32 };

  struct OpenCall {
    Tree tree;
    std::string path;  // full path below the root, as opened (UTF-8)
    std::uint32_t access;
    long status;
  };

  MemoryRegistry();
  ~MemoryRegistry() override;

  // Creates the key (and its parents); `path` uses backslashes, e.g. "SOFTWARE\\X\\Y".
  void create_key(Tree tree, std::string_view path);
  // Stores a value with exactly these bytes.
  void set_raw(Tree tree, std::string_view path, std::string_view name, std::uint32_t type,
               std::vector<std::uint8_t> data);
  // Stores UTF-16 text followed by `terminating_nuls` NUL units.
  void set_text(Tree tree, std::string_view path, std::string_view name, std::uint32_t type, std::u16string_view text,
                int terminating_nuls = 1);
  void set_text(Tree tree, std::string_view path, std::string_view name, std::uint32_t type, std::string_view utf8,
                int terminating_nuls = 1);

  // Opening this key fails with `status`.
  void fail_open(Tree tree, std::string_view path, long status);
  // Every enumeration of this key's subkeys fails with `status`, at every index.
  void fail_every_enum(Tree tree, std::string_view path, long status);

  // Environment for ExpandEnvironmentStrings (%NAME% is replaced, unknown names stay).
  void set_env(std::string_view name, std::string_view value) { env_[std::string(name)] = std::string(value); }
  // Expansion faults: every call returns 0; or the second call of a pair reports one unit more
  // than the first (the environment grew in between).
  void fail_expansion() { expansion_fails_ = true; }
  void grow_between_expansions() { expansion_grows_ = true; }

  const std::vector<OpenCall>& opens() const { return opens_; }
  std::size_t open_key_count() const { return open_.size(); }
  std::size_t enum_calls() const { return enum_calls_; }
  std::size_t bad_closes() const { return bad_closes_; }

  // platform::Registry
  long open_key(platform::RegHandle parent, const char16_t* subkey, std::uint32_t access,
                platform::RegHandle* result) override;
  long enum_key(platform::RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length) override;
  long query_value(platform::RegHandle key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                   std::uint32_t* size) override;
  void close_key(platform::RegHandle key) override;
  std::uint32_t expand_environment_strings(const char16_t* source, char16_t* destination, std::uint32_t size) override;

  struct Node;

 private:
  struct Opened {
    Node* node;
    Tree tree;
    std::string path;
  };

  Node& root(Tree tree);
  Node& make_path(Tree tree, std::string_view path);
  std::u16string expand(std::u16string_view source) const;

  std::unique_ptr<Node> roots_[3];
  std::map<std::uintptr_t, Opened> open_;
  std::uintptr_t next_handle_ = 0x10000;
  std::vector<OpenCall> opens_;
  std::size_t enum_calls_ = 0;
  std::size_t bad_closes_ = 0;
  std::map<std::string, std::string> env_;
  bool expansion_fails_ = false;
  bool expansion_grows_ = false;
  bool expansion_second_call_ = false;
};

}  // namespace ombrel::test
