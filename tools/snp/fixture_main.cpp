// snp_fixture KIND OUT.snp [METHODS]: writes one of the fixtures of fixture.h
// with the agent's document writer (tests, fuzz corpus, benchmark).
#include <stdio.h>
#include <stdlib.h>

#include "tools/snp/fixture.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: snp_fixture small|empty|half-a|half-b|whole|large OUT.snp [METHODS]\n");
    return 2;
  }
  int methods = argc == 4 ? atoi(argv[3]) : 50000;
  if (methods < 1) methods = 1;
  if (!writeFixture(argv[1], argv[2], methods)) {
    fprintf(stderr, "snp_fixture: cannot write %s %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
