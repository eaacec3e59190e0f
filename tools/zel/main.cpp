// The zel command-line tool: creates, fills and inspects item-index databases, and shows how
// the tokenizers split a text. See "zel --help".
#include <iostream>
#include <string>
#include <vector>

#include "ZELTool.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return ZELToolMain(arguments, ZELToolOutput{std::cout, std::cerr});
}
