package app.kt

// kotlinc copies twice's body into main and numbers the copy's lines past
// the end of this file, 15 to 17, which its SMAP maps back to lines 6 to 8.
inline fun twice(block: () -> Unit) {
    block()
    block()
}

fun main() {
    var n = 0
    twice { n++ }
}
