# Hello, world!
# Four cells are set near the letters' values at once: 70, 100, 30 and 10.
++++++++++[>+++++++>++++++++++>+++>+<<<<-]
# Then each letter is a few steps from one of them.
# H (72) and e (101)
>++.>+.
# l l (108) and o (111)
+++++++..+++.
# a comma (44) and a space (32)
>++++++++++++++.------------.
# w (119) o (111) r (114) l (108) d (100)
<++++++++.--------.+++.------.--------.
# ! (33) and a line end (10)
>+.>.
