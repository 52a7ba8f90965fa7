/* The C interface: key sequences for programs in C and for other languages' bindings. No C++
 * exception crosses it. Every call returns TGEN_OK or one of the codes below, and
 * tgen_errmsg() says what went wrong, for people.
 *
 *   tgen_sequence *seq;
 *   char key[101];
 *   if (tgen_open("mask='INV-####' alias=Shop start=0001", &seq) == TGEN_OK &&
 *       tgen_next(seq, key, sizeof key) == TGEN_OK)
 *     puts(key);
 *   else
 *     fprintf(stderr, "%s\n", tgen_errmsg(seq));
 *   tgen_close(seq);
 *
 * A handle is used by one thread at a time; distinct handles may draw at once. Keys are the
 * table's bytes (Windows-1251 for Cyrillic letters), at most 100 of them and a zero byte. */
#ifndef TGENERATOR_TGEN_H
#define TGENERATOR_TGEN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  TGEN_OK = 0,
  TGEN_ERROR = 1,           /* anything not named below */
  TGEN_BAD_INPUT = 2,       /* options, mask or values refused */
  TGEN_BUSY = 3,            /* the sequence's row stayed busy for max-wait seconds */
  TGEN_UNAVAILABLE = 4,     /* the store cannot be reached, or the table is missing */
  TGEN_OUTCOME_UNKNOWN = 5, /* a commit that may or may not have been stored: no key */
  TGEN_UNDO_REFUSED = 6,    /* another client drew since, or nothing to hand back */
  TGEN_TOO_SMALL = 7        /* the buffer cannot hold what would be written: nothing drawn */
};

typedef struct tgen_sequence tgen_sequence;

/* Opens a sequence. `options` are key=value pairs separated by blanks, a value quoted with
 * single quotes where it holds blanks or quotes (backslash escapes a quote or a backslash):
 * mask (required), alias (an alias, or a store's URI or connection string), table, type,
 * start, end, lock (transaction, the default, or fields), cache, max-wait, proc, check (none,
 * luhn, mod97, mod37, damm), period, fiscal-start, date (YYYY-MM-DD), on-overflow (stop, the
 * default, or restart), create (yes makes the table when it does not exist; no, the default).
 * *out is set to a handle even when opening failed, so that its error
 * can be asked for; close it either way. */
int tgen_open(const char* options, tgen_sequence** out);
/* The next key, with its zero byte, into key[size]. */
int tgen_next(tgen_sequence* seq, char* key, size_t size);
/* `count` consecutive keys drawn in one lock cycle, each with its zero byte, one after the
 * other into keys[size]: every key is tgen_key_length() bytes long. */
int tgen_next_batch(tgen_sequence* seq, int count, char* keys, size_t size);
/* Hands the last key back; the key before it into key[size]. */
int tgen_undo(tgen_sequence* seq, char* key, size_t size);
/* How long every key of the sequence is, without its zero byte; 0 for a handle that failed. */
size_t tgen_key_length(const tgen_sequence* seq);
/* What the last call that failed said; "" after success. Valid until the next call. */
const char* tgen_errmsg(const tgen_sequence* seq);
/* Closes the sequence, giving a cache back. A null handle is ignored. */
void tgen_close(tgen_sequence* seq);

#ifdef __cplusplus
}
#endif

#endif /* TGENERATOR_TGEN_H */
