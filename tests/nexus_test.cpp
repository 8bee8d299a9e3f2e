// NEXUS input: the forms programs write, the errors and where they stand,
// and leaves named as TRANSLATE says.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "reading/input.h"
#include "standard_checks.h"

namespace quorlen::standard {
namespace {

// What reading text gives, tree by tree: the text copied before each tree,
// the tree's command, its text and its TRANSLATE table; then the end, or the
// error.
std::string transcript(std::string_view text, bool newick = false) {
    tree_input in(text, newick);
    tree t;
    std::string out;
    for (;;) {
        const reader::result got = in.next(t);
        out += in.copied();
        in.copied().clear();
        if (got == reader::end) return out + "end";
        if (got == reader::failed) return out + in.error().message();
        if (in.nexus()) {
            const tree_command& c = in.command();
            out += std::string(c.star ? "* " : "") + c.name + " " + c.comments + "= ";
        }
        out += std::string(t.text.view()) + ";";
        if (in.names()) {
            std::vector<std::string> names;
            for (const auto& [key, name] : *in.names()) names.push_back(key + "=" + name.name + "=" + name.label);
            std::sort(names.begin(), names.end());
            for (const std::string& n : names) out += " " + n;
        }
        out += "\n";
        // The tree's nodes stand where its text says they do.
        const std::string back = testing::check_reads_back(t);
        if (!back.empty()) return out + back;
    }
}

TEST(Nexus, AcceptedForms) {
    struct row {
        std::string text, read;
    };
    const std::vector<row> rows = {
        {"#NEXUS\nbegin trees;\n tree t = (A,B);\nend;\n", "#NEXUS\nbegin trees;\nt = (A,B);\nEND;\nend"},
        // Keywords in any case, one line, ENDBLOCK.
        {"#nexus BEGIN Trees;TrEe t=(A,B);EndBlock;", "#NEXUS\nBEGIN Trees;\nt = (A,B);\nEND;\nend"},
        // Comments between any two tokens, nested ones too: between blocks
        // and commands a line of their own, in a command copied with it,
        // about a tree's name written after its "=".
        {"\xEF\xBB\xBF \n#NEXUS[a]\n[b [c] d]begin [e] trees [f];[g]tree [h] * [i] t [j] = [k] (A,B);end[l];",
         "#NEXUS\n[a]\n[b [c] d]\nbegin [e] trees [f];\n[g]\n* t [h] [i] [j] = [k](A,B);\nEND;\nend"},
        // TRANSLATE: keys quoted or not, numbers or not; names quoted either
        // way; ";" straight after the last entry, or on a line of its own.
        {"#NEXUS\nbegin trees; translate 1 Homo_sapiens, '2' 'Pan t''s', \"x y\" \"Go rilla\"; "
         "tree t = ((1,'2'),'x y');\ntranslate\n\t1 A,\n\t2 B\n\t;\ntree u = (1,2); end;",
         "#NEXUS\nbegin trees;\n\ttranslate 1 Homo_sapiens, '2' 'Pan t''s', \"x y\" \"Go rilla\";\n"
         "t = ((1,'2'),'x y'); 1=Homo_sapiens=Homo_sapiens 2=Pan t's='Pan t''s' x y=Go rilla='Go rilla'\n"
         "\ttranslate\n\t1 A,\n\t2 B\n\t;\nu = (1,2); 1=A=A 2=B=B\nEND;\nend"},
        // Other commands before and after TRANSLATE, copied as read; UTREE.
        {"#NEXUS\nBEGIN TREES;\n\tTITLE 'my trees';\n\tLINK TAXA = Taxa1;\n\tTRANSLATE 1 A, 2 B;\n"
         "\tUTREE PAUP_1 = [&U] (1:1,2:2);\nEND;\n",
         "#NEXUS\nBEGIN TREES;\n\tTITLE 'my trees';\n\tLINK TAXA = Taxa1;\n\tTRANSLATE 1 A, 2 B;\n"
         "PAUP_1 = [&U](1:1,2:2); 1=A=A 2=B=B\nEND;\nend"},
        // As BEAST writes a sample: comments on nodes, and after a ":".
        {"#NEXUS\nBegin trees;\n\tTranslate\n\t\t1 A,\n\t\t2 B,\n\t\t3 C\n\t\t;\n"
         "tree STATE_0 [&lnP=-12.5,posterior=-10.1] = [&R] ((1[&rate=1.0]:48.05,2:[&rate=0.9]3.1)"
         "[&prob=0.98][&length_mean=0.1]:1.5,3:2);\nEnd;\n",
         "#NEXUS\nBegin trees;\n\tTranslate\n\t\t1 A,\n\t\t2 B,\n\t\t3 C\n\t\t;\n"
         "STATE_0 [&lnP=-12.5,posterior=-10.1] = [&R]((1[&rate=1.0]:48.05,2:[&rate=0.9]3.1)"
         "[&prob=0.98][&length_mean=0.1]:1.5,3:2); 1=A=A 2=B=B 3=C=C\nEND;\nend"},
        // Several TREES blocks, each with its own table; other blocks copied
        // whole, an END; inside quotes or a comment ending nothing.
        {"#NEXUS\nbegin data; format symbols=\"END;\"; matrix 'END;' [END;] x ACGT; end;\n"
         "begin trees; translate 1 A; tree a = (1,B); end;\nbegin trees; tree b = (1,B); end;\n"
         "begin assumptions; endblock;",
         "#NEXUS\nbegin data; format symbols=\"END;\"; matrix 'END;' [END;] x ACGT; end;\n"
         "begin trees;\n\ttranslate 1 A;\na = (1,B); 1=A=A\nEND;\nbegin trees;\nb = (1,B);\nEND;\n"
         "begin assumptions; endblock;\nend"},
        // Written as Newick: the leaves named, quoted where they must be;
        // an internal label that is a key stays.
        {"#NEXUS\nbegin trees; translate 1 'A b', 2 C, 3 D_e, 10 ' '; tree t = ((1:1,2[&c]:2)1:3,(3,10)2);end;",
         "(('A b':1,C[&c]:2)1:3,(D_e,' ')2);\nend"},
        // Not NEXUS: a Newick tree whose first label starts with #NEXUS.
        {"#NEXUSX;", "#NEXUSX;\nend"},
    };
    for (const row& r : rows) {
        const bool newick = r.read.compare(0, 6, "#NEXUS") != 0 && r.text.compare(0, 8, "#NEXUSX;") != 0;
        EXPECT_EQ(transcript(r.text, newick), r.read) << r.text;
    }
}

TEST(Nexus, ErrorsSayWhatAndWhere) {
    struct row {
        std::string text, error;
    };
    const std::vector<row> rows = {
        {"#NEXUS\nbegin data;\n dimensions ntax=2;\n", "tree 1, line 2, column 1: block 'data' ends without END;"},
        {"#NEXUS\nbegin trees;\ntree a = (A,B);\n", "tree 2, line 2, column 1: block 'trees' ends without END;"},
        {"#NEXUS\nbegin trees; translate 1 A,\n 1 B; end;", "tree 1, line 3, column 2: TRANSLATE key '1' given twice"},
        {"#NEXUS\nbegin trees; translate '1' A, 1 B; end;", "tree 1, line 2, column 31: TRANSLATE key '1' given twice"},
        {"#NEXUS\nbegin trees; translate 1 A, 2; end;", "tree 1, line 2, column 29: TRANSLATE key '2' without its name"},
        {"#NEXUS\nbegin trees; translate 1 A 2 B; end;",
         "tree 1, line 2, column 28: TRANSLATE entries not separated by ','"},
        {"#NEXUS\nbegin trees; tree a (A,B); end;", "tree 1, line 2, column 21: TREE without '='"},
        {"#NEXUS\nbegin trees; tree = (A,B); end;", "tree 1, line 2, column 19: TREE without a name"},
        {"#NEXUS\nbegin trees; tree a =", "tree 1, line 2, column 22: TREE without its tree"},
        // A ";" left out before END: the END is no root's label.
        {"#NEXUS\nbegin trees; tree a = (A,B)\nEnd;", "tree 1, line 3, column 5: TREE without ';' before END"},
        {"#NEXUS\nbegin trees; tree a = (A,B)\ntree b = (A,B);",
         "tree 1, line 3, column 6: unexpected 'b': a label with blanks must be quoted"},
        {"#NEXUS\nbegin trees;\ntree a = (A,B);\ntree b = (A,B;\nend;",
         "tree 2, line 4, column 10: unbalanced parentheses: '(' not closed"},
        {"#NEXUS\nbegin taxa; taxlabels A B; end;\n", "tree 1, line 3, column 1: no tree in the input"},
        {"#NEXUS", "tree 1, line 1, column 7: no tree in the input"},
        {"#NEXUS\n[a [b] c\n", "tree 1, line 2, column 1: unterminated comment"},
        {"#NEXUS\nbegin trees; translate 1 'A;\nend;", "tree 1, line 2, column 26: unterminated quote"},
        {"#NEXUS\nbegin", "tree 1, line 2, column 6: BEGIN without the block's name"},
    };
    for (const row& r : rows) {
        const std::string got = transcript(r.text);
        EXPECT_EQ(got.substr(got.rfind('\n') + 1), r.error) << r.text;
    }
}

}  // namespace
}  // namespace quorlen::standard
