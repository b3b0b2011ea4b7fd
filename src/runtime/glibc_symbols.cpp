// The glibc symbols that the statically linked C++ runtime would otherwise
// take from the build machine's glibc, held to versions that older systems
// have. Each is reached through the linker's --wrap=NAME, which sends every
// reference to NAME in the module (libstdc++ and libgcc included) to
// __wrap_NAME below; cmake/extension_runtime.cmake lists the names.
//
// - __libc_single_threaded (glibc 2.32): read by libstdc++ to skip atomic
//   operations in a process without threads. Here always false, so the
//   runtime always takes its thread-safe path.
// - pthread_once and __pthread_key_create (glibc 2.34, where they moved into
//   libc): the unwinder's one-time initialisation and its test for threads,
//   bound to their first versions, which every glibc since has kept.
// - _dl_find_object (glibc 2.35): the unwinder's lookup of the loaded object
//   that holds a code address, formed from dl_iterate_phdr as the unwinder
//   did before glibc had it.
//
// Each is wrapped only when the build's glibc is new enough to have the
// newer version (cmake/extension_runtime.cmake checks the same versions).
#include <link.h>
#include <pthread.h>

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#define QUILLON_GLIBC_FIRST_VERSION "GLIBC_2.2.5"
#elif defined(__aarch64__)
#define QUILLON_GLIBC_FIRST_VERSION "GLIBC_2.17"
#else
#error "first glibc symbol version unknown for this architecture"
#endif

#if __GLIBC_PREREQ(2, 34)
extern "C" {

// Weak, as the runtime's own references are: a process without threads
// support finds them null.
[[gnu::weak]] int quillon_first_pthread_once(pthread_once_t* control, void (*routine)());
[[gnu::weak]] int quillon_first_pthread_key_create(pthread_key_t* key, void (*destructor)(void*));
}
__asm__(".symver quillon_first_pthread_once, pthread_once@" QUILLON_GLIBC_FIRST_VERSION);
__asm__(".symver quillon_first_pthread_key_create, __pthread_key_create@"
        QUILLON_GLIBC_FIRST_VERSION);
#endif

namespace {

#if __GLIBC_PREREQ(2, 35)
struct ObjectSearch {
  std::uintptr_t address;
  dl_find_object* found;
};

// dl_iterate_phdr's callback: fills the search's result and stops (returns
// 1) at the object one of whose loaded segments holds the address.
int match_object(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<ObjectSearch*>(data);
  std::uintptr_t start = UINTPTR_MAX;
  std::uintptr_t end = 0;
  bool holds_address = false;
  void* eh_frame = nullptr;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    const std::uintptr_t low = info->dlpi_addr + segment.p_vaddr;
    if (segment.p_type == PT_GNU_EH_FRAME) eh_frame = reinterpret_cast<void*>(low);
    if (segment.p_type != PT_LOAD) continue;
    const std::uintptr_t high = low + segment.p_memsz;
    if (low < start) start = low;
    if (high > end) end = high;
    if (search->address >= low && search->address < high) holds_address = true;
  }
  if (!holds_address) return 0;
  *search->found = dl_find_object{};
  search->found->dlfo_map_start = reinterpret_cast<void*>(start);
  search->found->dlfo_map_end = reinterpret_cast<void*>(end);
  search->found->dlfo_eh_frame = eh_frame;
  return 1;
}
#endif

}  // namespace

extern "C" {

#if __GLIBC_PREREQ(2, 32)
[[gnu::visibility("hidden")]] char __wrap___libc_single_threaded = 0;
#endif

#if __GLIBC_PREREQ(2, 34)
[[gnu::visibility("hidden")]] int __wrap_pthread_once(pthread_once_t* control,
                                                       void (*routine)()) {
  if (quillon_first_pthread_once == nullptr) return -1;
  return quillon_first_pthread_once(control, routine);
}

[[gnu::visibility("hidden")]] int __wrap___pthread_key_create(pthread_key_t* key,
                                                               void (*destructor)(void*)) {
  if (quillon_first_pthread_key_create == nullptr) return -1;
  return quillon_first_pthread_key_create(key, destructor);
}
#endif

#if __GLIBC_PREREQ(2, 35)
// Only a glibc that has _dl_find_object (2.35 on) declares it, and only a
// runtime built against one calls it. The link map stays null: the unwinder
// reads the mapping and the frame table only.
[[gnu::visibility("hidden")]] int __wrap__dl_find_object(void* address, dl_find_object* found) {
  ObjectSearch search{reinterpret_cast<std::uintptr_t>(address), found};
  return dl_iterate_phdr(match_object, &search) != 0 ? 0 : -1;
}
#endif
}
