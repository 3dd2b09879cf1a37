orv_add_gtest(lang_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/lang/utf_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/lang/language_texts_test.cpp
    LIBS orv_lang
)
