# Busy work, to see how fast the interpreter runs. Ten rounds, a dot after each; every round
# fills a row of 200 cells 255 times and counts each cell down to zero, one pass at a time.
%Working
# Cell 0: a dot (46). Cell 1: ten rounds.
>++++++[<++++++++>-]<--
>++++++++++[
  # Cell 2: 255 times.
  >-[
    # Cell 4: 200, the row's length (cell 3 stays 0).
    >>>++++++++++[<++++++++++++++++++++>-]<
    # Cells 4 to 203: 254 each (cell 204 stays 0); back to cell 4.
    [-[->+<]-->]
    <[<]>
    # Passes right and left, each takes one from every cell.
    [[->]<[-<]>]
    <<-
  ]
  # A dot.
  <<.>-
]
# A line end.
++++++++++.
%Done.
.
