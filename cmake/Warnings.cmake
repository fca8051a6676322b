# Every target of the project builds with the same strict warnings.
add_compile_options(-Wall -Wextra -Werror)

if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
