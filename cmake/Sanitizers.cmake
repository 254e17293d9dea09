if(WENDRIX_SANITIZE)
  add_compile_options(-fsanitize=${WENDRIX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${WENDRIX_SANITIZE})
endif()
if(WENDRIX_BUILD_FUZZ)
  # The code under test carries coverage counters and the same checks as the
  # fuzz targets that link it.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
