/* The C interface, from C: open, draw, batch, undo and every kind of refusal, on the SQLite
 * folder given as the first argument, or on the PostgreSQL server of $TGEN_PG_URI. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/tgen.h"

static int failures = 0;

#define EXPECT(condition)                                              \
  do {                                                                 \
    if (!(condition)) {                                                \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                      \
    }                                                                  \
  } while (0)

/* A table of this run's own, so that runs on one server stay apart. */
static char table[32];

static tgen_sequence *Open(const char *store, const char *more) {
  char options[1024];
  tgen_sequence *seq = NULL;
  snprintf(options, sizeof options, "alias='%s' table=%s %s", store, table, more);
  const int rc = tgen_open(options, &seq);
  if (rc != TGEN_OK) fprintf(stderr, "open %s: %d %s\n", options, rc, tgen_errmsg(seq));
  return seq;
}

int main(int argc, char **argv) {
  char store[512];
  if (argc > 2 && strcmp(argv[1], "--postgresql") == 0) {
    snprintf(store, sizeof store, "%s", argv[2]);
  } else if (argc > 1) {
    snprintf(store, sizeof store, "sqlite:%s", argv[1]);
  } else {
    fprintf(stderr, "usage: capi_test FOLDER | --postgresql URI\n");
    return 2;
  }
  char key[101];
  char batch[3 * 12];
  snprintf(table, sizeof table, "CKEYS_%ld", (long)getpid());

  /* A table made first, then drawing: keys, a batch, an undo. */
  tgen_sequence *seq = Open(store, "mask='C-####-' start=0001 check=mod97 create=yes");
  EXPECT(seq != NULL && tgen_key_length(seq) == 9);
  EXPECT(tgen_next(seq, key, sizeof key) == TGEN_OK && strncmp(key, "C-0001-", 7) == 0);
  EXPECT(tgen_next_batch(seq, 3, batch, sizeof batch) == TGEN_OK);
  EXPECT(strncmp(batch, "C-0002-", 7) == 0 && strncmp(batch + 20, "C-0004-", 7) == 0);
  EXPECT(tgen_undo(seq, key, sizeof key) == TGEN_OK && strncmp(key, "C-0003-", 7) == 0);
  EXPECT(tgen_next(seq, key, 5) == TGEN_TOO_SMALL && strstr(tgen_errmsg(seq), "10") != NULL);
  EXPECT(tgen_next(seq, key, sizeof key) == TGEN_OK && strncmp(key, "C-0004-", 7) == 0);

  /* Another client draws: the first one's undo is refused. */
  tgen_sequence *other = Open(store, "mask='C-####-' check=mod97 lock=fields");
  EXPECT(tgen_next(other, key, sizeof key) == TGEN_OK && strncmp(key, "C-0005-", 7) == 0);
  EXPECT(tgen_undo(seq, key, sizeof key) == TGEN_UNDO_REFUSED && *tgen_errmsg(seq) != '\0');
  tgen_close(other);
  tgen_close(seq);

  /* Refusals: each open gives a handle that says why. */
  const struct {
    const char *options;
    int code;
  } refused[] = {
      {"mask='AB['", TGEN_BAD_INPUT},
      {"mask=## colour=blue", TGEN_BAD_INPUT},
      {"mask=## lock=sometimes", TGEN_BAD_INPUT},
      {"mask='X-@@-#' period=YYYY", TGEN_BAD_INPUT},
      {"mask=## table=MISSING alias='memory:nowhere'", TGEN_UNAVAILABLE},
      {"mask='unclosed", TGEN_BAD_INPUT},
  };
  for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
    tgen_sequence *bad = NULL;
    const int rc = tgen_open(refused[i].options, &bad);
    if (rc != refused[i].code) fprintf(stderr, "%s: %d, %s\n", refused[i].options, rc, tgen_errmsg(bad));
    EXPECT(rc == refused[i].code);
    EXPECT(bad != NULL && *tgen_errmsg(bad) != '\0');
    EXPECT(tgen_next(bad, key, sizeof key) == TGEN_ERROR);
    tgen_close(bad);
  }
  tgen_close(NULL);
  if (failures == 0) printf("capi_test: all passed on %s\n", store);
  return failures == 0 ? 0 : 1;
}
