if(WENDRIX_SANITIZE)
  add_compile_options(-fsanitize=${WENDRIX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${WENDRIX_SANITIZE})
endif()
