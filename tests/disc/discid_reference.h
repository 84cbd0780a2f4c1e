/* libdiscid's ids of a table of contents: offsets[0] is the lead-out,
   offsets[1..99] the tracks' start addresses in frames. 1 on success;
   freedb takes 9 bytes, musicbrainz 29. */
#ifdef __cplusplus
extern "C" {
#endif
int discid_reference(int first, int last, int* offsets, char* freedb, char* musicbrainz);
#ifdef __cplusplus
}
#endif
