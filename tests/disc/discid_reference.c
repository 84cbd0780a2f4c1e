/* Both ids of a table of contents as libdiscid computes them. */
#include "discid_reference.h"

#include <discid/discid.h>
#include <string.h>

int discid_reference(int first, int last, int* offsets, char* freedb, char* musicbrainz) {
  DiscId* d = discid_new();
  if (!discid_put(d, first, last, offsets)) {
    discid_free(d);
    return 0;
  }
  strcpy(freedb, discid_get_freedb_id(d));
  strcpy(musicbrainz, discid_get_id(d));
  discid_free(d);
  return 1;
}
