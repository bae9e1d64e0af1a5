/* A C client made only from the installed qovix.x, by rpcgen, and libtirpc:
 * the way a user of another language reaches qovixd.
 *
 *   rpcgen_client HOST PORT
 *
 * First it checks that rpcgen's encodings of the wire types are the
 * documented bytes; then, on a live qovixd, it creates a tagged value, sets
 * and reads its tag, adds it to a model element and reads the size of that
 * collection. Exit status 0 when everything matched. */

#include <arpa/inet.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qovix.h"

/* QOVIXName's value-class number, from the protocol reference. */
enum { kNameValueClass = 1, kTextKind = 10 };

static int failures = 0;

static void fail(const char* what) {
  fprintf(stderr, "rpcgen_client: %s\n", what);
  ++failures;
}

/* Encodes `object` with `filter` and compares with the expected words. */
static void expectWords(const char* what, xdrproc_t filter, void* object, const unsigned* words,
                        size_t count) {
  char buffer[256];
  XDR xdrs;
  xdrmem_create(&xdrs, buffer, sizeof buffer, XDR_ENCODE);
  if (!filter(&xdrs, object, 0)) {
    fail(what);
    return;
  }
  if (xdr_getpos(&xdrs) != count * 4) {
    fprintf(stderr, "rpcgen_client: %s: %u bytes, not %zu\n", what, xdr_getpos(&xdrs), count * 4);
    ++failures;
  }
  for (size_t i = 0; i < count && i * 4 < xdr_getpos(&xdrs); ++i) {
    unsigned word;
    memcpy(&word, buffer + i * 4, 4);
    if (ntohl(word) != words[i]) {
      fprintf(stderr, "rpcgen_client: %s: word %zu is %08x, not %08x\n", what, i, ntohl(word),
              words[i]);
      ++failures;
    }
  }
  xdr_destroy(&xdrs);
}

#define EXPECT_WORDS(what, type, object, ...)                                                \
  do {                                                                                       \
    const unsigned words[] = {__VA_ARGS__};                                                  \
    expectWords(what, (xdrproc_t)xdr_##type, object, words, sizeof words / sizeof words[0]); \
  } while (0)

static void checkEncodings(void) {
  X_String abc = "abc";
  X_OptionalString present = &abc;
  X_OptionalString absent = NULL;
  EXPECT_WORDS("optional string \"abc\"", X_OptionalString, &present, 1, 3, 0x61626300);
  EXPECT_WORDS("absent optional string", X_OptionalString, &absent, 0);

  unsigned short ab[] = {'a', 'b', 0xFFFF, 0};
  X_stringUTF16 text = {3, ab};
  EXPECT_WORDS("UTF-16 a, b, U+FFFF", X_stringUTF16, &text, 3, 0x61, 0x62, 0xFFFF);

  X_VornDataType value;
  memset(&value, 0, sizeof value);
  value.kind = -1;
  value.X_VornDataType_u.null.extra = 0;
  EXPECT_WORDS("null data value", X_VornDataType, &value, 0xFFFFFFFF, 0);

  value.kind = 2;
  value.X_VornDataType_u.chars = (X_CharsShortValue){7, 1, 2, -1, 2000};
  EXPECT_WORDS("data value arm 2", X_VornDataType, &value, 2, 7, 1, 2, 0xFFFFFFFF, 0x7D0);

  value.kind = 6;
  X_LongTripleValue* triple = &value.X_VornDataType_u.triple;
  triple->extra = 0;
  triple->first = 1;
  triple->second = 2;
  triple->third = 3;
  EXPECT_WORDS("data value arm 6", X_VornDataType, &value, 6, 0, 1, 3, 2);

  X_HandleValueValueInt find = {5, {.kind = -1}, {.kind = -1}, 1};
  EXPECT_WORDS("_find__1 with two null strings", X_HandleValueValueInt, &find, 5, 0xFFFFFFFF, 0,
               0xFFFFFFFF, 0, 1);

  X_HandleLong element = {7, 2};
  EXPECT_WORDS("get_ownedDiagram_1 of 7, index 2", X_HandleLong, &element, 7, 2);
}

static CLIENT* connectTo(struct sockaddr_in address, unsigned long program, unsigned long version) {
  int socket = RPC_ANYSOCK;
  CLIENT* client = clnttcp_create(&address, program, version, &socket, 0, 0);
  if (client == NULL) {
    clnt_pcreateerror("rpcgen_client");
    exit(1);
  }
  return client;
}

/* Each call's result, or the reason it failed, and out. */
#define CALL(result, call, client)     \
  do {                                 \
    if (((result) = (call)) == NULL) { \
      clnt_perror(client, #call);      \
      exit(1);                         \
    }                                  \
  } while (0)

static void workOnServer(const char* host, int port) {
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, host, &address.sin_addr) != 1) {
    fail("HOST must be a numeric IPv4 address");
    return;
  }
  CLIENT* server = connectTo(address, QOVIX_HOST_PROGRAM, QOVIX_HOST_VERSION);
  CLIENT* tagged = connectTo(address, QOVIX_MODEL_PROGRAM, QOVIXTaggedValue_VERSION);
  CLIENT* element = connectTo(address, QOVIX_MODEL_PROGRAM, QOVIXModelElement_VERSION);

  X_InteropHandle* handle;
  CALL(handle, qovix_host_repository_1(NULL, server), server);
  X_InteropHandle repository = *handle;
  CALL(handle, qovixtaggedvalue_create_1_2(&repository, tagged), tagged);
  X_InteropHandle tag = *handle;
  CALL(handle, qovixmodelelement_create_1_3(&repository, element), element);
  X_InteropHandle owner = *handle;
  if (tag == 0 || owner == 0) fail("create_1 answered no handle");

  unsigned short author[] = {'a', 'u', 't', 'h', 'o', 'r', 0};
  X_HandleValue set = {tag, {.kind = kTextKind}};
  set.param1.X_VornDataType_u.text = (X_TextValue){kNameValueClass, {7, author}};
  void* done;
  CALL(done, qovixtaggedvalue_set_tag_0_2(&set, tagged), tagged);

  X_VornDataType* read;
  CALL(read, qovixtaggedvalue_get_tag_0_2(&tag, tagged), tagged);
  const X_TextValue* got = &read->X_VornDataType_u.text;
  if (read->kind != kTextKind || got->extra != kNameValueClass ||
      got->text.X_stringUTF16_len != 7 ||
      memcmp(got->text.X_stringUTF16_val, author, sizeof author) != 0) {
    fail("get_tag_0 did not give back the tag set");
  }
  xdr_free((xdrproc_t)xdr_X_VornDataType, (char*)read);

  X_HandleHandle add = {owner, tag};
  CALL(done, qovixmodelelement_add_taggedvalue_0_3(&add, element), element);
  X_udt_integer* size;
  CALL(size, qovixmodelelement_size_taggedvalue_0_3(&owner, element), element);
  if (*size != 1) fail("size_taggedValue_0 is not 1 after one add");

  X_udt_boolean* released;
  CALL(released, qovix_host_release_1(&tag, server), server);
  if (*released != 1) fail("the host did not release the tagged value's handle");

  clnt_destroy(element);
  clnt_destroy(tagged);
  clnt_destroy(server);
  if (failures == 0) printf("tag author, taggedValue size 1\n");
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: rpcgen_client HOST PORT\n");
    return 2;
  }
  checkEncodings();
  workOnServer(argv[1], atoi(argv[2]));
  return failures == 0 ? 0 : 1;
}
