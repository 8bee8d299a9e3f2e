// biopp_rootings [--first] FILE: the job of `quorlen --support FILE` done with
// Bio++ (Debian's libbpp-phyl-dev), to compare speed and results: every tree
// of FILE rooted in the middle of each of its branches with newOutGroup, one
// tree a line, written by Bio++'s Newick writer. Bio++ reads internal labels
// as bootstrap values, a property of the branch above the node, which
// rootAt moves along the reversed path. With --first, only the rooting on
// the branch above the first leaf in post-order (quorlen --support FILE |
// head -n 1).
//
// Each rooting starts from the one before, and newOutGroup(node) roots on
// the branch between the node and its father at that time; taking the nodes
// in reverse post-order (ancestors first), a node's father is then still its
// father as read. A root of two children stands on one branch: its second
// son is left out, as quorlen does.
//
// Build (bench/peers/build-biopp DIR does this):
//   g++ -std=c++17 -O2 -o DIR/biopp_rootings bench/peers/biopp_rootings.cpp -lbpp-phyl -lbpp-seq -lbpp-core
#include <Bpp/Phyl/Io/Newick.h>
#include <Bpp/Phyl/TreeTemplate.h>

#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    bool first = argc == 3 && std::strcmp(argv[1], "--first") == 0;
    if (argc != 2 + first) {
        std::cerr << "usage: biopp_rootings [--first] FILE\n";
        return 2;
    }
    std::ios::sync_with_stdio(false);
    try {
        bpp::Newick newick;
        std::vector<bpp::Tree*> read;
        newick.read(argv[1 + first], read);
        for (bpp::Tree* each : read) {
            std::unique_ptr<bpp::TreeTemplate<bpp::Node>> tree(dynamic_cast<bpp::TreeTemplate<bpp::Node>*>(each));
            bpp::Node* root = tree->getRootNode();
            if (first) {
                bpp::Node* leaf = root;
                while (!leaf->isLeaf()) leaf = leaf->getSon(0);
                tree->newOutGroup(leaf);
                newick.write(*tree, std::cout);
                continue;
            }
            std::vector<bpp::Node*> nodes = tree->getNodes();  // post-order
            bpp::Node* skipped = root->getNumberOfSons() == 2 ? root->getSon(1) : nullptr;
            for (auto node = nodes.rbegin(); node != nodes.rend(); ++node) {
                if (*node == root || *node == skipped) continue;
                tree->newOutGroup(*node);
                newick.write(*tree, std::cout);
            }
        }
    } catch (std::exception& error) {
        std::cerr << "biopp_rootings: " << error.what() << "\n";
        return 1;
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}
