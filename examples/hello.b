# Hello, world!
# Four cells are set near the letters' values at once, then each letter is a few steps away.
++++++++++[>+++++++>++++++++++>+++>+<<<<-]   # cells 1 to 4: 70, 100, 30, 10
>++.                 # H (72)
>+.                  # e (101)
+++++++..            # l l (108)
+++.                 # o (111)
>++++++++++++++.     # comma (44)
------------.        # space (32)
<++++++++.           # w (119)
--------.            # o (111)
+++.                 # r (114)
------.              # l (108)
--------.            # d (100)
>+.                  # ! (33)
>.                   # line end (10)
