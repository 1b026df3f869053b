#include "program.h"

#include <cstdio>

namespace pellux {

std::string listing(const Program& program) {
    std::string text;
    char line[96];
    for (std::size_t i = 0; i < program.code.size(); ++i) {
        const Instruction& in = program.code[i];
        std::snprintf(line, sizeof line, "%6zu  %-14s cell %d  amount %d  link %d\n", i, operation(in.op).name, in.cell,
                      in.amount, in.link);
        text += line;
    }
    return text;
}

} // namespace pellux
