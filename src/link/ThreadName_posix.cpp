#include <pthread.h>

#include <cstring>

#include "link/ThreadName.h"

namespace wendrix {

void NameThisThread(const char* name) {
  // The kernel keeps 15 characters and refuses longer names.
  char shortName[16] = {};
  std::strncpy(shortName, name, sizeof shortName - 1);
  pthread_setname_np(pthread_self(), shortName);
}

}  // namespace wendrix
