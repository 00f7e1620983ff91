#include "program/start.hpp"

int main(int argc, char** argv) { return start_program(argc, argv, Forms::production); }
