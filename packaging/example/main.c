/* Draws keys from C with the installed library, in a table that lives in this process's
 * memory. */
#include <stdio.h>
#include <string.h>
#include <tgenerator/tgen.h>

int main(void) {
  tgen_sequence *seq = NULL;
  char keys[3 * 9];
  int rc = tgen_open("mask='ORD-####' alias='memory:example' create=yes", &seq);
  if (rc == TGEN_OK) rc = tgen_next_batch(seq, 3, keys, sizeof keys);
  if (rc != TGEN_OK) {
    fprintf(stderr, "keys-c: %s\n", tgen_errmsg(seq));
  } else {
    for (int i = 0; i < 3; ++i)
      puts(keys + 9 * i);
  }
  tgen_close(seq);
  return rc == TGEN_OK && strcmp(keys + 18, "ORD-0002") == 0 ? 0 : 1;
}
