/* Draws keys through the C interface and prints each as soon as it is drawn: cdraw OPTIONS
 * COUNT. Used by the test in which programs of several languages draw from one sequence. */
#include <stdio.h>
#include <stdlib.h>

#include "core/tgen.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: cdraw OPTIONS COUNT\n");
    return 2;
  }
  tgen_sequence* seq = NULL;
  int rc = tgen_open(argv[1], &seq);
  char key[101];
  for (long i = 0, n = atol(argv[2]); rc == TGEN_OK && i < n; ++i) {
    rc = tgen_next(seq, key, sizeof key);
    if (rc == TGEN_OK) {
      puts(key);
      fflush(stdout);
    }
  }
  if (rc != TGEN_OK) fprintf(stderr, "cdraw: %s\n", tgen_errmsg(seq));
  tgen_close(seq);
  return rc == TGEN_OK ? 0 : 1;
}
