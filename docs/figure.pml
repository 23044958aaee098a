# The picture in the README: ubiquitin's cartoon with the pseudo-atoms voxmol wrote for its
# electrostatic potential, blue where it is above 1 kT/e and red where it is below -1 kT/e, coloured by
# their B column (the potential). Run by docs/make_figure.sh in its work folder.
load protein.pdb, protein
remove solvent
load positive.pdb, positive
load negative.pdb, negative
# Only the points in the solvent around the protein: inside it the potential is not what one looks at.
remove (positive or negative) within 4.0 of protein
remove (positive or negative) beyond 10.0 of protein
hide everything
show cartoon, protein
set cartoon_color, grey70
show spheres, positive or negative
set sphere_scale, 0.22
spectrum b, white_blue, positive, minimum=0, maximum=3
spectrum b, red_white, negative, minimum=-3, maximum=0
bg_color white
set ray_opaque_background, 1
set ray_shadows, 0
orient protein
turn x, -90
zoom protein, 6
ray 760, 600
png potential.png
