# Every target of ours gets the same warnings; KELVORA_WERROR turns them into errors (CI does).
add_compile_options(-Wall -Wextra)
if(KELVORA_WERROR)
    add_compile_options(-Werror)
endif()
