# Adds up the numbers from 1 to two hundred and fifty million in a cell of 32 bits
# and writes the low byte of the sum
+++++++++++++++++++++++++
[->++++++++++<]>[->++++++++++<]>[->++++++++++<]>[->++++++++++<]>
[->++++++++++<]>[->++++++++++<]>[->++++++++++<]>
[>+[->+>+<<]>>[-<<+>>]<<<-]
>>.
