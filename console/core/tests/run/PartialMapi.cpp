// A mail library that lacks MAPIResolveName, for the loader's answer 4.

#include "mapi/SimpleMapi.h"

#define PARTIAL_EXPORT extern "C" __attribute__((visibility("default")))

PARTIAL_EXPORT ULONG MAPILogon(ULONG_PTR, LPSTR, LPSTR, FLAGS, ULONG, LHANDLE* session) {
  *session = 1;
  return SUCCESS_SUCCESS;
}
PARTIAL_EXPORT ULONG MAPILogoff(LHANDLE, ULONG_PTR, FLAGS, ULONG) { return SUCCESS_SUCCESS; }
PARTIAL_EXPORT ULONG MAPISendMail(LHANDLE, ULONG_PTR, MapiMessage*, FLAGS, ULONG) { return MAPI_E_NOT_SUPPORTED; }
PARTIAL_EXPORT ULONG MAPIAddress(LHANDLE, ULONG_PTR, LPSTR, ULONG, LPSTR, ULONG, MapiRecipDesc*, FLAGS, ULONG,
                                 ULONG*, MapiRecipDesc**) {
  return MAPI_E_FAILURE;
}
PARTIAL_EXPORT ULONG MAPIFreeBuffer(LPVOID) { return SUCCESS_SUCCESS; }
