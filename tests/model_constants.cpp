// Prints the model's constants as the program forms them, each as a hexadecimal double (every bit), for
// the companion's test that its own are the same (tools/test_constants.py).
#include <cstdio>

#include "ephemeris/constants.hpp"

int main() {
    const ModelConstants c = model_constants();
    std::printf("gauss %a\npi %a\ndospi %a\nobli %a\n", c.gauss, c.pi, c.dospi, c.obli);
    return 0;
}
