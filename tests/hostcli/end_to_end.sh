echo placeholder
