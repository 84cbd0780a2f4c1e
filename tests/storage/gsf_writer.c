/* Writes a compound file with libgsf, an independent implementation, for the
 * storage tests to read: gsf_writer OUT VERSION (3 or 4).
 * Stream i of SIZES holds byte (i * 7 + k) & 0xFF at offset k. */
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-utils.h>
#include <stdio.h>
#include <stdlib.h>

static const size_t SIZES[] = {0, 1, 63, 64, 511, 512, 513, 4095, 4096, 4097, 100000};
#define COUNT (sizeof SIZES / sizeof SIZES[0])

static int put(GsfOutfile* dir, const char* name, size_t i) {
  GsfOutput* out = gsf_outfile_new_child(dir, name, FALSE);
  if (!out) return 0;
  unsigned char* buf = malloc(SIZES[i] + 1);
  for (size_t k = 0; k < SIZES[i]; ++k) buf[k] = (unsigned char)((i * 7 + k) & 0xFF);
  int ok = gsf_output_write(out, SIZES[i], buf);
  free(buf);
  gsf_output_close(out);
  g_object_unref(out);
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: gsf_writer OUT VERSION\n");
    return 2;
  }
  gsf_init();
  GError* err = NULL;
  GsfOutput* sink = gsf_output_stdio_new(argv[1], &err);
  if (!sink) {
    fprintf(stderr, "gsf_writer: %s\n", err ? err->message : "cannot create");
    return 1;
  }
  guint bb = atoi(argv[2]) == 4 ? 4096 : 512;
  GsfOutfile* root = gsf_outfile_msole_new_full(sink, bb, 64);
  char name[32];
  for (size_t i = 0; i < COUNT; ++i) {
    snprintf(name, sizeof name, "stream%zu", i);
    if (!put(root, name, i)) return 1;
  }
  GsfOutput* sub = gsf_outfile_new_child(root, "Nested", TRUE);
  for (size_t i = 0; i < COUNT; i += 3) {
    snprintf(name, sizeof name, "inner%zu", i);
    if (!put(GSF_OUTFILE(sub), name, i)) return 1;
  }
  gsf_output_close(sub);
  g_object_unref(sub);
  gsf_output_close(GSF_OUTPUT(root));
  g_object_unref(root);
  g_object_unref(sink);
  gsf_shutdown();
  return 0;
}
