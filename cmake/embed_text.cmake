# Turns a text file into a C++ source defining `const char NAME[]` in namespace hdext::sim:
#   cmake -DIN=page.html -DOUT=page.cpp -DNAME=kPage -P embed_text.cmake
file(READ "${IN}" _text)
string(FIND "${_text}" ")EMBED\"" _clash)
if(NOT _clash EQUAL -1)
  message(FATAL_ERROR "${IN} holds the raw string's end marker )EMBED\"")
endif()
file(WRITE "${OUT}" "namespace hdext::sim {\nextern const char ${NAME}[];\nconst char ${NAME}[] = R\"EMBED(${_text})EMBED\";\n}\n")
