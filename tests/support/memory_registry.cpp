#include "tests/support/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "common/utf16.h"

namespace ombrel::test {

struct MemoryRegistry::Node {
  struct Value {
    std::u16string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
  };
  std::vector<std::pair<std::u16string, std::unique_ptr<Node>>> children;  // enumeration order
  std::vector<Value> values;
  std::optional<long> open_failure;
  std::optional<long> enum_failure;
};

namespace {

// Registry names compare without regard to ASCII case.
bool same_name(std::u16string_view a, std::u16string_view b) {
  const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

std::vector<std::u16string> split_path(std::u16string_view path) {
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(u'\\', start), path.size());
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

MemoryRegistry::Node* child_of(MemoryRegistry::Node& node, std::u16string_view name) {
  for (auto& [child_name, child] : node.children) {
    if (same_name(child_name, name)) return child.get();
  }
  return nullptr;
}

std::string join(const std::string& base, const std::string& sub) {
  if (base.empty()) return sub;
  if (sub.empty()) return base;
  return base + "\\" + sub;
}

}  // namespace

MemoryRegistry::MemoryRegistry() {
  for (auto& tree_root : roots_) tree_root = std::make_unique<Node>();
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Node& MemoryRegistry::root(Tree tree) { return *roots_[static_cast<int>(tree)]; }

MemoryRegistry::Node& MemoryRegistry::make_path(Tree tree, std::string_view path) {
  Node* node = &root(tree);
  for (const std::u16string& part : split_path(utf8_to_utf16(path))) {
    Node* next = child_of(*node, part);
    if (next == nullptr) {
      node->children.emplace_back(part, std::make_unique<Node>());
      next = node->children.back().second.get();
    }
    node = next;
  }
  return *node;
}

void MemoryRegistry::create_key(Tree tree, std::string_view path) { make_path(tree, path); }

void MemoryRegistry::set_raw(Tree tree, std::string_view path, std::string_view name, std::uint32_t type,
                             std::vector<std::uint8_t> data) {
  Node& node = make_path(tree, path);
  const std::u16string wide_name = utf8_to_utf16(name);
  for (Node::Value& value : node.values) {
    if (same_name(value.name, wide_name)) {
      value.type = type;
      value.data = std::move(data);
      return;
    }
  }
  node.values.push_back(Node::Value{wide_name, type, std::move(data)});
}

void MemoryRegistry::set_text(Tree tree, std::string_view path, std::string_view name, std::uint32_t type,
                              std::u16string_view text, int terminating_nuls) {
  std::u16string units(text);
  units.append(static_cast<std::size_t>(terminating_nuls), u'\0');
  std::vector<std::uint8_t> bytes(units.size() * 2);
  std::memcpy(bytes.data(), units.data(), bytes.size());
  set_raw(tree, path, name, type, std::move(bytes));
}

void MemoryRegistry::set_text(Tree tree, std::string_view path, std::string_view name, std::uint32_t type,
                              std::string_view utf8, int terminating_nuls) {
  set_text(tree, path, name, type, std::u16string_view(utf8_to_utf16(utf8)), terminating_nuls);
}

void MemoryRegistry::fail_open(Tree tree, std::string_view path, long status) {
  make_path(tree, path).open_failure = status;
}

void MemoryRegistry::fail_every_enum(Tree tree, std::string_view path, long status) {
  make_path(tree, path).enum_failure = status;
}

long MemoryRegistry::open_key(platform::RegHandle parent, const char16_t* subkey, std::uint32_t access,
                              platform::RegHandle* result) {
  *result = nullptr;
  Node* node = nullptr;
  Tree tree = Tree::kCurrentUser;
  std::string base;
  if (parent == platform::kHkeyCurrentUser) {
    node = &root(tree);
  } else if (parent == platform::kHkeyLocalMachine) {
    // Without a view flag a 64-bit process sees the 64-bit view.
    tree = (access & platform::kKeyWow64View32) != 0 ? Tree::kMachine32 : Tree::kMachine64;
    node = &root(tree);
  } else {
    const auto it = open_.find(reinterpret_cast<std::uintptr_t>(parent));
    if (it == open_.end()) return 6;  // ERROR_INVALID_HANDLE
    node = it->second.node;
    tree = it->second.tree;
    base = it->second.path;
  }
  const std::u16string sub(subkey);
  const std::string path = join(base, utf16_to_utf8(sub));
  long status = platform::kRegSuccess;
  for (const std::u16string& part : split_path(sub)) {
    node = child_of(*node, part);
    if (node == nullptr) {
      status = platform::kRegFileNotFound;
      break;
    }
  }
  if (status == platform::kRegSuccess && node->open_failure) status = *node->open_failure;
  opens_.push_back(OpenCall{tree, path, access, status});
  if (status != platform::kRegSuccess) return status;
  const std::uintptr_t handle = next_handle_++;
  open_.emplace(handle, Opened{node, tree, path});
  *result = reinterpret_cast<platform::RegHandle>(handle);
  return status;
}

long MemoryRegistry::enum_key(platform::RegHandle key, std::uint32_t index, char16_t* name,
                              std::uint32_t* name_length) {
  ++enum_calls_;
  const auto it = open_.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == open_.end()) return 6;
  Node& node = *it->second.node;
  if (node.enum_failure) return *node.enum_failure;
  if (index >= node.children.size()) return platform::kRegNoMoreItems;
  const std::u16string& child = node.children[index].first;
  if (child.size() + 1 > *name_length) return platform::kRegMoreData;  // no room for name and NUL
  std::copy(child.begin(), child.end(), name);
  name[child.size()] = u'\0';
  *name_length = static_cast<std::uint32_t>(child.size());
  return platform::kRegSuccess;
}

long MemoryRegistry::query_value(platform::RegHandle key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                                 std::uint32_t* size) {
  const auto it = open_.find(reinterpret_cast<std::uintptr_t>(key));
  if (it == open_.end()) return 6;
  for (const Node::Value& value : it->second.node->values) {
    if (!same_name(value.name, name)) continue;
    *type = value.type;
    const auto bytes = static_cast<std::uint32_t>(value.data.size());
    if (data != nullptr && *size < bytes) {
      *size = bytes;
      return platform::kRegMoreData;
    }
    if (data != nullptr) std::copy(value.data.begin(), value.data.end(), data);
    *size = bytes;
    return platform::kRegSuccess;
  }
  return platform::kRegFileNotFound;
}

void MemoryRegistry::close_key(platform::RegHandle key) {
  if (open_.erase(reinterpret_cast<std::uintptr_t>(key)) == 0) ++bad_closes_;
}

std::u16string MemoryRegistry::expand(std::u16string_view source) const {
  std::u16string out;
  std::size_t i = 0;
  while (i < source.size()) {
    const std::size_t open = source.find(u'%', i);
    const std::size_t close = open == std::u16string_view::npos ? open : source.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      out.append(source.substr(i));
      break;
    }
    out.append(source.substr(i, open - i));
    const std::string name = utf16_to_utf8(source.substr(open + 1, close - open - 1));
    const auto found = env_.find(name);
    if (found != env_.end()) {
      out.append(utf8_to_utf16(found->second));
      i = close + 1;
    } else {
      out.append(source.substr(open, close - open));  // unknown names stay as written
      i = close;
    }
  }
  return out;
}

std::uint32_t MemoryRegistry::expand_environment_strings(const char16_t* source, char16_t* destination,
                                                         std::uint32_t size) {
  if (expansion_fails_) return 0;
  const std::u16string expanded = expand(source);
  auto needed = static_cast<std::uint32_t>(expanded.size() + 1);
  if (destination != nullptr && size >= needed) {
    std::copy(expanded.begin(), expanded.end(), destination);
    destination[expanded.size()] = u'\0';
  }
  if (expansion_grows_) {
    // The first call of a pair sizes the buffer; the second one pretends the text got longer.
    if (expansion_second_call_) ++needed;
    expansion_second_call_ = !expansion_second_call_;
  }
  return needed;
}

}  // namespace ombrel::test
