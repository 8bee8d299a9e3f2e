// TREE commands around each rooting's line, for NEXUS input.
#include "rootings/nexus_write.h"

#include <charconv>
#include <cstring>

namespace quorlen::standard {

std::size_t tree_head_room(const tree_command& c) { return c.name.size() + c.comments.size() + 48; }

char* write_tree_head(const tree_command& c, std::size_t k, char* p) {
    p = put(p, c.star && k <= 1 ? "\tTREE * " : "\tTREE ");
    std::string_view name = c.name;
    const bool quoted = name.size() >= 2 && (name.front() == '\'' || name.front() == '"');
    if (quoted) name.remove_suffix(1);
    p = put(p, name);
    if (k > 0) {
        *p++ = '_';
        p = std::to_chars(p, p + 24, k).ptr;
    }
    if (quoted) *p++ = c.name.back();
    p = put(p, " = ");
    return put(p, c.comments);
}

}  // namespace quorlen::standard
