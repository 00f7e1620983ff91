// ephem_literal: the program with every step of the computation and of the item text as written, the
// reference that whole runs of ephem are compared with byte for byte.
#include "program/start.hpp"

int main(int argc, char** argv) { return start_program(argc, argv, Forms::literal); }
