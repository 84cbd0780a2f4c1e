// The PostgreSQL client library, loaded when a shared catalogue is first
// used rather than at every start: it and what it brings (TLS, Kerberos,
// LDAP) took longer to load than most commands take to run.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace tamber::app {

#define TAMBER_LIBPQ_FUNCTIONS(F)                                                                              \
  F(PQcancel) F(PQclear) F(PQconnectdbParams) F(PQconninfoFree) F(PQconninfoParse) F(PQerrorMessage)           \
  F(PQfinish) F(PQfreeCancel) F(PQfreemem) F(PQgetCancel) F(PQgetisnull) F(PQgetlength) F(PQgetResult)         \
  F(PQgetvalue) F(PQexec) F(PQexecParams) F(PQnfields) F(PQntuples) F(PQputCopyData) F(PQputCopyEnd)          \
  F(PQresultErrorMessage) F(PQresultStatus) F(PQsendQueryParams) F(PQsetNoticeProcessor)                     \
  F(PQsetSingleRowMode) F(PQstatus)

// The library's functions this program calls, each with its own type.
struct Libpq {
#define TAMBER_LIBPQ_MEMBER(name) decltype(&::name) name = nullptr;
  TAMBER_LIBPQ_FUNCTIONS(TAMBER_LIBPQ_MEMBER)
#undef TAMBER_LIBPQ_MEMBER
};

// The library, loaded on the first call; nullptr, with the reason in
// `why`, when it is not installed or lacks a function.
const Libpq* loadLibpq(std::string& why);

}  // namespace tamber::app
