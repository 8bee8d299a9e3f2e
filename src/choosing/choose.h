// Choosing where a tree's root belongs: by outgroup, at the midpoint, by
// minimal variance, by minimal ancestor deviation or by the regression of
// root-to-tip distance on sampling date. Each method picks a
// point on one branch of the unrooted tree (a branch as the standard mode's
// rootings number them), and the tree is written rooted at that point.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "choosing/methods.h"
#include "common/processors.h"
#include "reading/dates.h"
#include "reading/decimal.h"
#include "reading/newick.h"
#include "reading/nexus.h"
#include "rootings/rootings.h"

namespace quorlen::standard::roots {

enum class method { outgroup, midpoint, minvar, mad, clock };

struct options {
    method how = method::midpoint;
    internal_labels labels = internal_labels::names;
    // For outgroup: ranked lists of leaf names; for each tree, the first
    // list with at least one of its names among the tree's leaves.
    std::vector<std::vector<std::string>> outgroups;
    // Every branch's best point and score too (minvar, mad and clock).
    bool scores = false;
    // For clock: the leaves' dates, from a table (which outlives the
    // chooser) or else from their names; and whether the point of largest
    // R^2 is wanted rather than of least residual.
    const dates_table* dates = nullptr;
    // Where given, waited on before the table is first asked, from any
    // thread: the table may still be being read while the tree is seen.
    // False if it could not be read (the caller reports why).
    std::function<bool()> dates_ready;
    bool r2 = false;
    // The threads a method may run on (mad): as many as there are
    // processors to run on, by default.
    unsigned threads = processors();
};

// One branch of the unrooted tree, its best point and the method's value
// there.
struct scored_branch {
    node_ref chosen = none;   // the node rootings::chosen() lists for it
    std::size_t leaves = 0;   // leaves on the chosen node's side
    double length = 0;        // the branch's length, a missing one 0
    double position = 0;      // the best point, from the chosen node's end
    double score = 0;         // the method's value there
    // The clock's regression there; empty: no point of a positive rate.
    double rate = 0, root_date = 0, r2 = 0;
    bool empty = false;
};

class chooser {
public:
    explicit chooser(options how);
    // Chooses the root of t. Empty, or what is wrong with the tree (an error
    // for that tree, without its number). Where names is given, the leaves
    // bear its keys, and outgroups name them by the names the keys stand for.
    std::string choose(const tree& t, const translation* names = nullptr);
    // After a choice: the branch, and the point on it, measured from the
    // chosen node's end, exactly as written.
    node_ref chosen() const { return branch; }
    const decimal& position() const { return x; }
    // With options::scores, for minvar and mad: every branch, in the order
    // of rootings::chosen().
    const std::vector<scored_branch>& scores() const { return table; }
    // After a clock's choice: the regression, and each leaf's date (NaN
    // where none), by leaf in pre-order.
    const clock_fit& clock() const { return fitted; }
    // The unrooted view of the tree last chosen on.
    const unrooted& seen() const { return *view; }
    // The chosen branch's number among the rootings, from 1.
    std::size_t branch_number() const;
    const big_vector<double>& dates() const { return leaf_dates; }
    // Gives back the memory of the clock's leaves, once its reports are out.
    void forget_clock();
    // The length of n's branch as the standard mode writes it, without its
    // ":": as read, or a two-child root's merged branch; empty if none.
    std::string_view length_of(node_ref n) const;
    // Appends t rooted at the chosen point, with its ";": the standard
    // mode's rooting of that branch, with x and e - x for the root's two
    // children (x = e/2: exactly the standard mode's line).
    void write(const tree& t, std::string& out);
    // The same, to p, which has room for longest() bytes; returns its end.
    std::size_t longest() const;
    char* write(const tree& t, char* p);
    // The same through a cursor, for a line too long to gather whole.
    line_cursor write(const tree& t, line_cursor p);

private:
    template <class Out>
    Out write_to(const tree& t, Out p);
    // The dates of the leaves of u, by leaf; and, meanwhile, beside().
    void dates_of(const unrooted& u, const translation* names, const std::function<void()>& beside);
    options how;
    rooting_space space;  // kept from one tree to the next
    std::unique_ptr<rootings> lines;  // of the tree last chosen on, in space
    node_ref branch = none;
    decimal x, e;  // the point, and the branch's length, exactly
    bool middle = false;  // exactly the standard mode's line
    std::vector<scored_branch> table;
    std::optional<unrooted> view;  // of the tree last chosen on
    clock_fit fitted;
    big_vector<double> leaf_dates;  // by leaf
};

}  // namespace quorlen::standard::roots
